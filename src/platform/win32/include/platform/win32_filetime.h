#pragma once
// FILETIME is a count of 100 ns intervals since 1601-01-01 UTC; host times count from 1970.

#include <ctime>

#include "platform/win_types.h"

namespace nimbrel::platform {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr LONGLONG kFileTimeUnixEpoch = 116444736000000000LL;
constexpr LONGLONG kFileTimeTicksPerSecond = 10000000LL;

LONGLONG fileTimeFromTimespec(const struct timespec& time);
// Times before 1970 give a negative tv_sec with tv_nsec in [0, 1e9), as the host expects.
struct timespec timespecFromFileTime(LONGLONG fileTime);
LONGLONG fileTimeNow();

// Whether two host times are the very same instant, to the nanosecond.
inline bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

inline LONGLONG fileTimeValue(const FILETIME& time) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}
inline FILETIME toFileTime(LONGLONG value) {
    auto bits = static_cast<ULONGLONG>(value);
    return FILETIME{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)};
}

}  // namespace nimbrel::platform
