#include "platform/win32_filetime.h"

namespace nimbrel::platform {

LONGLONG fileTimeFromTimespec(const struct timespec& time) {
    return static_cast<LONGLONG>(time.tv_sec) * kFileTimeTicksPerSecond + time.tv_nsec / 100 + kFileTimeUnixEpoch;
}

struct timespec timespecFromFileTime(LONGLONG fileTime) {
    LONGLONG ticks = fileTime - kFileTimeUnixEpoch;
    LONGLONG seconds = ticks / kFileTimeTicksPerSecond;
    LONGLONG rest = ticks % kFileTimeTicksPerSecond;
    if (rest < 0) {  // division truncates towards zero; the host wants the floor
        rest += kFileTimeTicksPerSecond;
        --seconds;
    }
    struct timespec time {};
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = static_cast<long>(rest * 100);
    return time;
}

LONGLONG fileTimeNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return fileTimeFromTimespec(now);
}

}  // namespace nimbrel::platform
