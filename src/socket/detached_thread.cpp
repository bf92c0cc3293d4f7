#include "socket/detached_thread.h"

#include <memory>
#include <system_error>
#include <thread>

#include "platform/win_sync.h"

namespace {

constexpr int kAttempts = 6;
constexpr DWORD kRetryDelayMs = 1000;

// The thread owns its task from the moment it starts; a failed start leaves it with the caller.
std::uintptr_t tryStart(std::unique_ptr<std::function<void()>>& holder) {
    try {
        std::function<void()>* task = holder.get();
        std::thread thread([task] {
            std::unique_ptr<std::function<void()>> owned(task);
            (*owned)();
        });
        holder.release();
        auto handle = static_cast<std::uintptr_t>(thread.native_handle());
        thread.detach();
        return handle;
    } catch (const std::system_error&) {
        return kThreadStartFailed;
    }
}

}  // namespace

std::uintptr_t startDetachedThread(std::function<void()> task) {
    auto holder = std::make_unique<std::function<void()>>(std::move(task));
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        std::uintptr_t handle = tryStart(holder);
        if (handle != kThreadStartFailed) return handle;
        if (attempt < kAttempts) Sleep(kRetryDelayMs);
    }
    return kThreadStartFailed;
}
