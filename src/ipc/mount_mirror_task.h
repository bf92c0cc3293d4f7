#pragma once
// One mount or unmount of one path. Shared by the mount manager, the pool job that runs it and
// every request that has to wait for it; always held by shared pointer.

#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win_types.h"

class MountMirrorTask {
public:
    MountMirrorTask(std::string path, bool isMount);
    MountMirrorTask(const MountMirrorTask&) = delete;
    MountMirrorTask& operator=(const MountMirrorTask&) = delete;

    const std::string& path() const { return path_; }
    bool isMount() const { return isMount_; }

    HRESULT hr() const;
    void setHr(HRESULT hr);
    bool done() const;
    // Marks the task ended; waiters are released by wakeTask.
    void setDone();
    QString errorText() const;
    void setErrorText(const QString& text);

    // Waits until the task has ended; -1 waits without limit. False when a finite wait ran out.
    bool waitTask(int timeoutMs);
    void wakeTask();

private:
    const std::string path_;
    const bool isMount_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    HRESULT hr_ = S_OK;
    bool done_ = false;
    QString errorText_;
};
