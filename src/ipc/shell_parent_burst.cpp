#include "ipc/shell_parent_burst.h"

#include "ipc/shell_burst_windows.h"
#include "ipc/shell_path.h"
#include "ipc/shell_refresh_clock.h"

namespace {
constexpr long long kForgetMs = 12000;
constexpr long long kWindowMs = 3000;
constexpr int kBurstLimit = 24;
constexpr long long kParentIntervalMs = 500;
constexpr int kParentEvery = 64;
}  // namespace

ShellParentBurstLimiter::ShellParentBurstLimiter(ShellRefreshClock& clock) : clock_(clock) {}

ParentBurst ShellParentBurstLimiter::parentBurst(const QString& path) {
    ParentBurst result;
    result.parent = shellParentPath(path);
    if (result.parent.isEmpty()) return result;
    const QString key = shellPathKey(result.parent);
    const long long now = clock_.nowMs();

    std::lock_guard<std::mutex> lock(mutex_);
    pruneBurstWindows(windows_, now, kForgetMs, key, kMaxEntries);
    auto found = windows_.find(key);
    if (found == windows_.end()) found = windows_.emplace(key, Window{now, 0, 0, 0}).first;
    Window& window = found->second;
    if (now - window.startMs > kWindowMs) window = Window{now, 0, 0, 0};
    result.burstCount = ++window.count;
    if (window.count > kBurstLimit) {
        result.coalesced = true;
        ++window.suppressedCount;
        result.notifyParent = window.suppressedCount == 1 || now - window.lastParentNotifyMs >= kParentIntervalMs ||
                              window.suppressedCount % kParentEvery == 0;
        if (result.notifyParent) window.lastParentNotifyMs = now;
    }
    result.suppressedCount = window.suppressedCount;
    return result;
}

std::size_t ShellParentBurstLimiter::trackedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_.size();
}
