#pragma once
// Unix seconds to and from Windows file times (100-nanosecond ticks since 1601-01-01 UTC).

#include <QtGlobal>
#include <algorithm>
#include <limits>

#include "platform/win_types.h"

namespace filetime {

inline constexpr LONGLONG kTicksPerSecond = 10000000;
inline constexpr LONGLONG kUnixEpochTicks = 116444736000000000;

// The client's times are any 64-bit count; those beyond what a file time can hold stop at its ends.
inline constexpr qint64 kMinUnixSeconds = std::numeric_limits<LONGLONG>::min() / kTicksPerSecond;
inline constexpr qint64 kMaxUnixSeconds = (std::numeric_limits<LONGLONG>::max() - kUnixEpochTicks) / kTicksPerSecond;

inline constexpr LONGLONG fromUnixSeconds(qint64 seconds) {
    return std::clamp(seconds, kMinUnixSeconds, kMaxUnixSeconds) * kTicksPerSecond + kUnixEpochTicks;
}
inline constexpr qint64 toUnixSeconds(LONGLONG ticks) { return (ticks - kUnixEpochTicks) / kTicksPerSecond; }

inline LARGE_INTEGER largeIntegerFromUnixSeconds(qint64 seconds) {
    LARGE_INTEGER value;
    value.QuadPart = fromUnixSeconds(seconds);
    return value;
}

inline FILETIME filetimeFromUnixSeconds(qint64 seconds) {
    auto ticks = static_cast<ULONGLONG>(fromUnixSeconds(seconds));
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

inline LONGLONG ticksFromFiletime(const FILETIME& time) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

inline qint64 unixSecondsFromFiletime(const FILETIME& time) { return toUnixSeconds(ticksFromFiletime(time)); }

}  // namespace filetime
