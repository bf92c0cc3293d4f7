#include "ipc/shell_root_burst.h"

#include "ipc/shell_burst_windows.h"
#include "ipc/shell_path.h"
#include "ipc/shell_refresh_clock.h"

namespace {
constexpr long long kForgetMs = 20000;
constexpr long long kWindowMs = 5000;
constexpr int kBurstLimit = 16;
}  // namespace

ShellRootBurstLimiter::ShellRootBurstLimiter(ShellRefreshClock& clock) : clock_(clock) {}

RootBurst ShellRootBurstLimiter::rootBurst(const QString& path, const std::vector<std::wstring>& mountPaths,
                                           const QString& root) {
    RootBurst result;
    QString burstRoot = resolveRoot(normalizeShellPath(path), mountPaths, root);
    if (burstRoot.isEmpty()) burstRoot = shellParentPath(path);
    if (burstRoot.isEmpty()) return result;
    const QString key = shellPathKey(burstRoot);
    const long long now = clock_.nowMs();

    std::lock_guard<std::mutex> lock(mutex_);
    pruneBurstWindows(windows_, now, kForgetMs, key, kMaxEntries);
    auto found = windows_.find(key);
    if (found == windows_.end()) found = windows_.emplace(key, Window{now, 0, 0}).first;
    Window& window = found->second;
    if (now - window.startMs > kWindowMs) window = Window{now, 0, 0};
    result.burstCount = ++window.count;
    if (window.count > kBurstLimit) {
        result.inBurst = true;
        ++window.suppressedCount;
    }
    result.suppressedCount = window.suppressedCount;
    return result;
}

std::size_t ShellRootBurstLimiter::trackedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_.size();
}
