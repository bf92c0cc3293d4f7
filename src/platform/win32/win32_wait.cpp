// Waiting, sleeping and the tick counters.
#include <time.h>

#include <chrono>
#include <thread>

#include "platform/kernel_object.h"
#include "platform/win_error.h"
#include "platform/win_process.h"
#include "platform/win_sync.h"

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (handle == GetCurrentProcess()) {
        // The calling process never ends while it waits for itself.
        Sleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    auto object = nimbrel::platform::lookupHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->wait(milliseconds);
}

extern "C" void Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

extern "C" ULONGLONG GetTickCount64() {
    struct timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);  // since boot, including suspend, like Windows' tick count
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}
