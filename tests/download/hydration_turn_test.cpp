#include "download/hydration_turn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "download/download_task_scheduler.h"
#include "download/hydration_slots.h"
#include "support/test_env.h"

namespace {

// Downloads that start when their turn comes and finish only when the test lets them.
class Downloads {
public:
    std::function<void()> download(const std::string& id) {
        return [this, id] {
            std::unique_lock<std::mutex> lock(mutex_);
            started_.push_back(id);
            ++running_;
            maxRunning_ = std::max(maxRunning_, running_);
            changed_.notify_all();
            changed_.wait(lock, [&] { return finish_[id]; });
            --running_;
        };
    }

    std::function<bool()> keepAlive(const std::string& id) {
        return [this, id] {
            std::lock_guard<std::mutex> lock(mutex_);
            ++keepAlives_[id];
            return true;
        };
    }

    void finish(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        finish_[id] = true;
        changed_.notify_all();
    }

    void waitStarted(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return started_.size() >= count; });
    }

    bool hasWaited(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return keepAlives_[id] > 0;
    }

    std::pair<std::vector<std::string>, int> startedAndMaxRunning() {
        std::lock_guard<std::mutex> lock(mutex_);
        return {started_, maxRunning_};
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> started_;
    std::map<std::string, bool> finish_;
    std::map<std::string, int> keepAlives_;
    int running_ = 0;
    int maxRunning_ = 0;
};

TEST(HydrationTurn, TwoRunAtOnceWaitersStartInArrivalOrderAndDeadWaitersLeave) {
    Downloads downloads;
    std::vector<std::thread> threads;
    auto run = [&](const std::string& id) {
        threads.emplace_back([&, id] {
            EXPECT_TRUE(
                runInHydrationSlot(id, downloads.keepAlive(id), downloads.download(id), std::chrono::milliseconds(5)));
        });
    };

    run("t1");
    downloads.waitStarted(1);
    run("t2");
    downloads.waitStarted(2);

    // A waiter whose transfer dies leaves the queue without downloading.
    int keepAlives = 0;
    bool downloaded = false;
    EXPECT_FALSE(runInHydrationSlot(
        "doomed", [&] { return ++keepAlives < 3; }, [&] { downloaded = true; }, std::chrono::milliseconds(1)));
    EXPECT_FALSE(downloaded);
    EXPECT_EQ(3, keepAlives);
    EXPECT_EQ("", CDownloadTaskScheduler::instance().frontWaitingTask());

    run("t3");
    ASSERT_TRUE(nimbrel::test::waitUntil([&] { return downloads.hasWaited("t3"); }));
    run("t4");
    ASSERT_TRUE(nimbrel::test::waitUntil([&] { return downloads.hasWaited("t4"); }));
    EXPECT_EQ("t3", CDownloadTaskScheduler::instance().frontWaitingTask());

    // A freed slot goes to the head of the waiting list, however often the later one polls.
    downloads.finish("t1");
    downloads.waitStarted(3);
    EXPECT_EQ((std::vector<std::string>{"t1", "t2", "t3"}), downloads.startedAndMaxRunning().first);
    EXPECT_EQ("t4", CDownloadTaskScheduler::instance().frontWaitingTask());

    downloads.finish("t2");
    downloads.waitStarted(4);
    downloads.finish("t3");
    downloads.finish("t4");
    for (auto& thread : threads) thread.join();

    EXPECT_EQ((std::vector<std::string>{"t1", "t2", "t3", "t4"}), downloads.startedAndMaxRunning().first);
    EXPECT_EQ(2, downloads.startedAndMaxRunning().second);
    EXPECT_EQ(2, hydrationSlots.available());
    EXPECT_EQ("", CDownloadTaskScheduler::instance().frontWaitingTask());
}

}  // namespace
