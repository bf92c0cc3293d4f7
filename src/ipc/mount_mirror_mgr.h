#pragma once
// Mounting and unmounting of mirrors (sync-root folders): at most one task per path, a mount
// waits for a pending unmount of the same path and the reverse, unmounts run on a pool so that
// the IPC reply returns at once, and a root whose CfUnregisterSyncRoot still runs in the
// background is protected from being mounted again until it has finished.

#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/mount_mirror_task.h"
#include "ipc/mounted_path_list.h"
#include "platform/win_types.h"

class SyncRootUnregisterState;
class ThreadPool;

class CMountMirrorMgr {
public:
    CMountMirrorMgr();
    virtual ~CMountMirrorMgr();
    CMountMirrorMgr(const CMountMirrorMgr&) = delete;
    CMountMirrorMgr& operator=(const CMountMirrorMgr&) = delete;

    // Brings `path` (UTF-8, as the client sent it; a trailing separator or "\" separators do not
    // make it another root) up on the calling thread. `running` is set when a mount of the same
    // path was already under way and this call only waited for it.
    HRESULT mount(const std::string& path, bool& running);
    // Queues the unmount of `path` and returns; a mounted root that differs from it only in
    // separators, a trailing separator or letter case is the one unmounted. `running` is set when
    // an unmount of the same path is still under way, in which case nothing new starts.
    int asyncUnMount(const std::string& path, QString& errorText, bool& running);

    // A copy of the roots brought up by this process, taken under the list's mutex.
    std::vector<std::wstring> mountedPathsCopy() const;

protected:
    HRESULT _mount(const std::shared_ptr<MountMirrorTask>& task);
    HRESULT _unMount(const std::shared_ptr<MountMirrorTask>& task);
    void onTaskEnd(const std::shared_ptr<MountMirrorTask>& task);

private:
    static bool isSyncRoot(const std::wstring& path);
    // The spelling of the mounted root that `path` names, or `path` cleaned when none does.
    std::string mountedSpelling(const std::string& path) const;
    static HRESULT registerRoot(const QString& path);
    static void waitForPendingUnregister(const std::string& path);
    static void unregisterInBackground(std::wstring path, std::shared_ptr<SyncRootUnregisterState> state);
    void submitUnMount(const std::shared_ptr<MountMirrorTask>& task, bool afterMountWait);
    void runUnMountJob(const std::shared_ptr<MountMirrorTask>& task, bool afterMountWait);

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<MountMirrorTask>> tasks_;
    std::shared_ptr<ThreadPool> pool_;
    MountedPathList mountedPaths_;
};
