#pragma once
// The one time source of the shell-refresh throttles, in milliseconds. The process runs on the
// steady tick count; tests hand in a clock they move themselves, so a debounce second or a burst
// window passes without waiting for it.

#include <functional>

class ShellRefreshClock {
public:
    virtual ~ShellRefreshClock() = default;
    virtual long long nowMs() const = 0;
    // `listener` is called after every jump of the clock, so that a thread waiting for a due time
    // reads the time again. Real time never jumps; only clocks that tests move call it.
    virtual void setJumpListener(std::function<void()> listener) = 0;

    static ShellRefreshClock& steady();
};
