#pragma once
// The roots this process has brought up, each at most once, behind one mutex. The mount manager
// owns it; the context-menu server reads a copy.

#include <mutex>
#include <string>
#include <vector>

class MountedPathList {
public:
    // Appends `path` unless it is already listed; false when it was.
    bool add(const std::wstring& path);
    void remove(const std::wstring& path);
    std::vector<std::wstring> copy() const;

    // Runs `action` on the list while holding its mutex, for decisions that must not race a
    // mount or unmount of another root.
    template <typename Action>
    auto withLocked(Action action) {
        std::lock_guard<std::mutex> lock(mutex_);
        return action(paths_);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::wstring> paths_;
};
