#pragma once
// The slot discipline of a hydration download: at most two run at once, and a request that had
// to wait starts only from the head of the waiting list, so waiters start in arrival order.

#include <chrono>
#include <functional>
#include <string>

// Runs `download` for `taskId` once it holds a hydration slot. While it waits, `keepAlive` is
// called before every attempt (every `pause`); when it answers false the request is dropped and
// false returned without downloading. No lock is held while waiting or downloading.
bool runInHydrationSlot(const std::string& taskId, const std::function<bool()>& keepAlive,
                        const std::function<void()>& download,
                        std::chrono::milliseconds pause = std::chrono::milliseconds(50));
