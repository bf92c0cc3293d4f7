#include "socket/detached_thread.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <future>

namespace {

// No new thread can start in this process: it becomes an ordinary user (root ignores the limit)
// whose process limit it already reaches on its own.
void forbidNewThreads() {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(10);
    rlimit limit{};
    getrlimit(RLIMIT_NPROC, &limit);
    limit.rlim_cur = 1;
    if (setrlimit(RLIMIT_NPROC, &limit) != 0) _exit(11);
}

void allowNewThreads(int) {
    rlimit limit{};
    getrlimit(RLIMIT_NPROC, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NPROC, &limit);
}

// The children end with _exit: no exit-time checks that would need threads of their own.
TEST(DetachedThreadDeathTest, GivesUpAfterTheLastAttemptWithoutRunningTheTask) {
    EXPECT_EXIT(
        {
            forbidNewThreads();
            std::atomic<bool> ran{false};
            std::uintptr_t handle = startDetachedThread([&] { ran = true; });
            _exit(handle == kThreadStartFailed && !ran ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(DetachedThreadDeathTest, KeepsTryingUntilAThreadCanStart) {
    EXPECT_EXIT(
        {
            forbidNewThreads();
            signal(SIGALRM, allowNewThreads);
            alarm(2);  // within the five seconds of retries
            std::promise<void> ran;
            std::uintptr_t handle = startDetachedThread([&] { ran.set_value(); });
            if (handle == kThreadStartFailed) _exit(1);
            ran.get_future().wait();
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
