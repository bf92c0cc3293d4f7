// Shell refresh coalescing under a flood. Bounds: 100 000 distinct paths, each in a folder of its
// own below 100 mounted roots, must leave every map at its bound. Latency: the delay from a
// folder's last change to its refresh, alone (the anchor) and while 100 000 distinct files
// change in 1900 other folders, must stay the same: the flush thread's work does not grow with
// the flood.
#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ipc/shell_folder_debouncer.h"
#include "ipc/shell_refresh.h"
#include "ipc/shell_refresh_clock.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void measureBounds() {
    CShellRefresh refresh(ShellRefreshClock::steady());
    std::vector<std::wstring> mounts;
    for (int r = 0; r < 100; ++r) mounts.push_back(L"\\bench\\r" + std::to_wstring(r));
    std::size_t maxDebounced = 0, maxRoots = 0, maxParents = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 100000; ++i) {
        refresh.notifyFinalLocalFile(QString("\\bench\\r%1\\d%2\\f.txt").arg(i % 100).arg(i), mounts, "", "bench",
                                     "bench-parent");
        maxDebounced = std::max(maxDebounced, refresh.debouncedCount());
        maxRoots = std::max(maxRoots, refresh.rootBurstCount());
    }
    const double floodMs = msSince(start);
    for (int i = 0; i < 100000; ++i) {
        refresh.parentBurst(QString("\\bench\\p%1\\f.txt").arg(i));
        maxParents = std::max(maxParents, refresh.parentBurstCount());
    }
    std::printf(
        "bounds: 100000 distinct paths in %.0f ms; largest maps: debounce %zu (bound %zu), parent %zu (bound "
        "%zu), root %zu (bound %zu)\n",
        floodMs, maxDebounced, ShellFolderDebouncer::kMaxEntries, maxParents, ShellParentBurstLimiter::kMaxEntries,
        maxRoots, ShellRootBurstLimiter::kMaxEntries);
}

// The delay from the probe folder's last change to its refresh, with `floodFiles` distinct files
// changing in other folders meanwhile.
double probeDelayMs(int floodFiles) {
    const QString probe = "\\bench\\probe";
    std::atomic<long long> flushedAt{0};
    ShellFolderDebouncer debouncer(ShellRefreshClock::steady(), [&](const QString& folder, const QString&) {
        if (folder == probe) flushedAt = Clock::now().time_since_epoch().count();
    });
    debouncer.debounceFolderRefresh(probe, "bench");
    const auto changed = Clock::now();
    for (int i = 0; flushedAt == 0; ++i) {
        if (i < floodFiles) {
            debouncer.debounceFolderRefresh(QString("\\bench\\d%1").arg(i % 1900), QString("f%1").arg(i));
        } else {
            std::this_thread::yield();
        }
    }
    return std::chrono::duration<double, std::milli>(Clock::time_point(Clock::duration(flushedAt.load())) - changed)
        .count();
}

}  // namespace

int main() {
    measureBounds();
    const double anchor = probeDelayMs(0);
    const double flooded = probeDelayMs(100000);
    std::printf(
        "flush latency: %.2f ms from last change to refresh under the flood; anchor %.2f ms alone; ratio %.3f\n",
        flooded, anchor, flooded / anchor);
    return 0;
}
