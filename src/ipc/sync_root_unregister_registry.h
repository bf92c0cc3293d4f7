#pragma once
// The roots whose unregistration has started and not yet finished, process-wide. A mount of such
// a root waits until it is gone from here: Cloud Files must not see a root registered again while
// its old registration is still being torn down.

#include <QString>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

class SyncRootUnregisterRegistry {
public:
    static SyncRootUnregisterRegistry& instance();

    // The key under which a root is pending: the cleaned path in Windows separators without
    // trailing separators (a drive root keeps its own).
    static std::wstring rootKey(const QString& path);

    // Marks `key` pending; false when it already was.
    bool markPending(const std::wstring& key);
    // Takes `key` off the list and releases everyone waiting for it.
    void clearPending(const std::wstring& key);
    bool isPending(const std::wstring& key) const;
    // Blocks, without limit, while `key` is pending.
    void waitWhilePending(const std::wstring& key);

private:
    SyncRootUnregisterRegistry() = default;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::wstring> pending_;
};
