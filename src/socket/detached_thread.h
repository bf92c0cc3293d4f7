#pragma once
// Runs a task on a new detached thread, for work that outlives its caller (socket connections,
// context-menu actions, registry watches).

#include <cstdint>
#include <functional>

inline constexpr std::uintptr_t kThreadStartFailed = static_cast<std::uintptr_t>(-1);

// The new thread's handle, or kThreadStartFailed when no thread could be created after six
// attempts one second apart (the task then never runs).
std::uintptr_t startDetachedThread(std::function<void()> task);
