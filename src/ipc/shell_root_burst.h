#pragma once
// Limits per-item refreshes under one root in a burst: past 16 items within 5 s the items of that
// root are only covered by their debounced folder refreshes. At most 64 roots are tracked; a root
// unseen for 20 s is forgotten.

#include <QString>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class ShellRefreshClock;

struct RootBurst {
    bool inBurst = false;
    int burstCount = 0;
    int suppressedCount = 0;
};

class ShellRootBurstLimiter {
public:
    static constexpr std::size_t kMaxEntries = 64;

    explicit ShellRootBurstLimiter(ShellRefreshClock& clock);

    RootBurst rootBurst(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root);
    std::size_t trackedCount() const;

private:
    struct Window {
        long long startMs = 0;
        int count = 0;
        int suppressedCount = 0;
    };

    ShellRefreshClock& clock_;
    mutable std::mutex mutex_;
    std::map<QString, Window> windows_;
};
