#include "ipc/shell_refresh_clock.h"

#include "platform/windows.h"

namespace {

class TickCountClock : public ShellRefreshClock {
public:
    long long nowMs() const override { return static_cast<long long>(GetTickCount64()); }
    void setJumpListener(std::function<void()>) override {}
};

}  // namespace

ShellRefreshClock& ShellRefreshClock::steady() {
    static TickCountClock* clock = new TickCountClock;
    return *clock;
}
