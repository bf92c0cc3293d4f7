#pragma once
// The pruning that keeps a burst limiter's map of windows small: windows started more than
// `forgetMs` ago go, and a key about to be added makes room by dropping the smallest keys.

#include <QString>
#include <cstddef>
#include <iterator>

template <typename WindowMap>
void pruneBurstWindows(WindowMap& windows, long long now, long long forgetMs, const QString& keep,
                       std::size_t maxEntries) {
    for (auto it = windows.begin(); it != windows.end();) {
        it = now - it->second.startMs > forgetMs ? windows.erase(it) : std::next(it);
    }
    if (windows.count(keep)) return;
    while (windows.size() >= maxEntries) windows.erase(windows.begin());
}
