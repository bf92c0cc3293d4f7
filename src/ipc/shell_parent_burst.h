#pragma once
// Limits refreshes of single files that end under one parent folder in a burst: past 24 files
// within 3 s each further file is coalesced, and the parent is refreshed instead, at once for the
// first coalesced file, then at most every 500 ms or every 64th. At most 512 parents are tracked;
// a parent unseen for 12 s is forgotten.

#include <QString>
#include <cstddef>
#include <map>
#include <mutex>

class ShellRefreshClock;

struct ParentBurst {
    bool coalesced = false;
    QString parent;
    int burstCount = 0;
    int suppressedCount = 0;
    bool notifyParent = false;
};

class ShellParentBurstLimiter {
public:
    static constexpr std::size_t kMaxEntries = 512;

    explicit ShellParentBurstLimiter(ShellRefreshClock& clock);

    ParentBurst parentBurst(const QString& path);
    std::size_t trackedCount() const;

private:
    struct Window {
        long long startMs = 0;
        long long lastParentNotifyMs = 0;
        int count = 0;
        int suppressedCount = 0;
    };

    ShellRefreshClock& clock_;
    mutable std::mutex mutex_;
    std::map<QString, Window> windows_;
};
