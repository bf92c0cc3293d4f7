#include "download/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

TEST(ThreadPool, EveryJobRunsOnceAndABlockedWorkerLeavesTheOthersFree) {
    std::mutex mutex;
    std::condition_variable changed;
    bool unblock = false;
    int blocked = 0;
    std::atomic<int> quickRuns{0};
    {
        auto pool = std::make_shared<ThreadPool>(6);
        for (int i = 0; i < 5; ++i) {
            pool->submit([&] {
                std::unique_lock<std::mutex> lock(mutex);
                ++blocked;
                changed.notify_all();
                changed.wait(lock, [&] { return unblock; });
            });
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return blocked == 5; });
        }
        // With five workers held, the sixth still takes every further job.
        for (int i = 0; i < 20; ++i) {
            pool->submit([&] {
                std::lock_guard<std::mutex> lock(mutex);
                ++quickRuns;
                changed.notify_all();
            });
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return quickRuns == 20; });
            unblock = true;
        }
        changed.notify_all();
    }  // destruction joins every worker
    EXPECT_EQ(20, quickRuns.load());
    EXPECT_EQ(5, blocked);
}

}  // namespace
