#pragma once
// Tells Explorer about items the projection changed, without flooding it when the main client
// pushes thousands of items: ancestor folders are refreshed once a second at most (debounced),
// files that end in a burst under one parent turn into occasional refreshes of that parent, and a
// burst under one root leaves only the folder refreshes. Every notification goes out through
// SHChangeNotify with a UTF-16 path, flushed without waiting.
//
// Callers pass the mount manager's current root and a copy of its mounted paths.

#include <QString>
#include <string>
#include <vector>

#include "ipc/projection_shell_refresh.h"
#include "ipc/shell_folder_debouncer.h"
#include "ipc/shell_parent_burst.h"
#include "ipc/shell_root_burst.h"

class ShellRefreshClock;

class CShellRefresh : public ProjectionShellRefresh {
public:
    // The process's one instance, on the steady clock; never destroyed.
    static CShellRefresh& instance();

    explicit CShellRefresh(ShellRefreshClock& clock);
    CShellRefresh(const CShellRefresh&) = delete;
    CShellRefresh& operator=(const CShellRefresh&) = delete;

    void notifyShellItemChanged(const QString& path, const QString& source, bool includeParent) override;
    void scheduleAncestorRefresh(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root,
                                 const QString& source) override;
    void notifyFinalLocalFile(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root,
                              const QString& source, const QString& parentSource) override;
    // Only for a folder that exists, whose result `ret` is 0 and whose status is final (3 or 103).
    void notifyFinalLocalDir(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root,
                             const QString& id, int status, int ret, bool updateLsid, const QString& source,
                             const QString& parentSource, bool pinKnown, bool pinOk) override;
    void notifyRemoteCreateVisible(const QString& path, bool isDir, const std::vector<std::wstring>& mountPaths,
                                   const QString& root) override;

    int debounceFolderRefresh(const QString& folder, const QString& source);
    ParentBurst parentBurst(const QString& path);
    RootBurst rootBurst(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root);

    // How many folders, parents and roots the three throttles hold now.
    std::size_t debouncedCount() const { return debouncer_.pendingCount(); }
    std::size_t parentBurstCount() const { return parents_.trackedCount(); }
    std::size_t rootBurstCount() const { return roots_.trackedCount(); }

private:
    ShellRootBurstLimiter roots_;
    ShellParentBurstLimiter parents_;
    // Declared last: its flush thread calls back into this object and is joined first.
    ShellFolderDebouncer debouncer_;
};
