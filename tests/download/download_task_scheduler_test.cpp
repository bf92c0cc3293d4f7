#include "download/download_task_scheduler.h"

#include <gtest/gtest.h>

#include <cstring>

#include "download/download_task_table.h"
#include "download/hydration_slots.h"
#include "suite/logbridge/log_capture.h"

namespace {

CF_CALLBACK_INFO contextOfSize(LONGLONG size) {
    CF_CALLBACK_INFO info{};
    info.StructSize = sizeof(info);
    info.FileSize.QuadPart = size;
    info.TransferKey.QuadPart = size * 7;
    return info;
}

TEST(CDownloadTaskScheduler, WaitingListKeepsArrivalOrderAndRemovesFirstOccurrenceOnly) {
    auto& scheduler = CDownloadTaskScheduler::instance();
    EXPECT_EQ("", scheduler.frontWaitingTask());
    scheduler.addWaitingTask("w1");
    scheduler.addWaitingTask("w2");
    scheduler.addWaitingTask("w1");
    EXPECT_EQ("w1", scheduler.frontWaitingTask());
    EXPECT_EQ("w1", scheduler.frontWaitingTask());  // reading does not consume
    scheduler.removeWaitingTask("w1");
    EXPECT_EQ("w2", scheduler.frontWaitingTask());
    scheduler.removeWaitingTask("w2");
    EXPECT_EQ("w1", scheduler.frontWaitingTask());
    scheduler.removeWaitingTask("absent");
    scheduler.removeWaitingTask("w1");
    EXPECT_EQ("", scheduler.frontWaitingTask());
}

TEST(CDownloadTaskScheduler, StopAllTaskMarksRunningTasksCancelledWithTheirContextsAndDropsWaiters) {
    auto& scheduler = CDownloadTaskScheduler::instance();
    auto& table = DownloadTaskTable::instance();
    table.setTask("run-a", contextOfSize(123));
    scheduler.addRunningTask("run-a");
    scheduler.addRunningTask("run-b");
    scheduler.addWaitingTask("wait-c");
    LogCapture capture;

    scheduler.StopAllTask();

    EXPECT_EQ("", scheduler.frontWaitingTask());
    ASSERT_TRUE(table.isCancelled("run-a"));
    EXPECT_TRUE(table.isCancelled("run-b"));
    EXPECT_FALSE(table.isCancelled("wait-c"));
    // The cancel mark carries the task's own context; a task without one gets a zero context.
    table.removeCancelled("run-b");
    EXPECT_FALSE(table.isCancelled("run-b"));
    EXPECT_TRUE(table.hasTask("run-b"));
    const CF_CALLBACK_INFO zero{};
    const CF_CALLBACK_INFO context = table.getTask("run-b");
    EXPECT_EQ(std::memcmp(&zero, &context, sizeof(zero)), 0);

    const std::vector<std::string> expected = {"CDownloadTaskScheduler::StopAllTask enter", "cancel taskid:run-a",
                                               "cancel taskid:run-b", "CDownloadTaskScheduler::StopAllTask leave"};
    const auto lines = capture.lines();
    ASSERT_EQ(expected.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_NE(std::string::npos, lines[i].text.find(expected[i]));

    // Running downloads remove themselves; the next stop has nothing to cancel.
    scheduler.removeRunningTask("run-a");
    scheduler.removeRunningTask("run-b");
    LogCapture second;
    scheduler.StopAllTask();
    EXPECT_EQ(2u, second.lines().size());
    EXPECT_EQ(0, second.count("cancel taskid:"));
}

TEST(HydrationSlots, NeverHoldsMoreThanItsSlots) {
    HydrationSlots slots(2);
    slots.release();
    EXPECT_EQ(2, slots.available());
    EXPECT_TRUE(slots.tryAcquire());
    EXPECT_TRUE(slots.tryAcquire());
    EXPECT_FALSE(slots.tryAcquire());
    slots.release();
    EXPECT_TRUE(slots.tryAcquire());
    EXPECT_FALSE(slots.tryAcquire());
}

}  // namespace
