#include "download/download_task_scheduler.h"

#include <gtest/gtest.h>

#include <cstring>

#include "download/download_task_table.h"
#include "download/hydration_slots.h"
#include "suite/logbridge/log_capture.h"

namespace {

bool isAllZero(const CF_CALLBACK_INFO& info) {
    CF_CALLBACK_INFO zero{};
    return std::memcmp(&zero, &info, sizeof(info)) == 0;
}

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
    EXPECT_TRUE(isAllZero(table.getTask("run-b")));

    auto lines = capture.lines();
    std::vector<std::string> texts;
    for (const auto& line : lines) texts.push_back(line.text);
    ASSERT_EQ(4u, texts.size());
    EXPECT_NE(std::string::npos, texts[0].find("CDownloadTaskScheduler::StopAllTask enter"));
    EXPECT_NE(std::string::npos, texts[1].find("cancel taskid:run-a"));
    EXPECT_NE(std::string::npos, texts[2].find("cancel taskid:run-b"));
    EXPECT_NE(std::string::npos, texts[3].find("CDownloadTaskScheduler::StopAllTask leave"));

    // Running downloads remove themselves; the next stop has nothing to cancel.
    scheduler.removeRunningTask("run-a");
    scheduler.removeRunningTask("run-b");
    LogCapture second;
    scheduler.StopAllTask();
    EXPECT_EQ(2u, second.lines().size());
    EXPECT_EQ(0, second.count("cancel taskid:"));
}

TEST(DownloadTaskTable, StoresContextsByValueAndGetTaskInsertsAZeroContext) {
    auto& table = DownloadTaskTable::instance();
    EXPECT_FALSE(table.hasTask("t-new"));
    EXPECT_TRUE(isAllZero(table.getTask("t-new")));
    EXPECT_TRUE(table.hasTask("t-new"));

    auto context = contextOfSize(4096);
    table.setTask("t-new", context);
    context.FileSize.QuadPart = 1;  // the table kept its own copy
    EXPECT_EQ(4096, table.getTask("t-new").FileSize.QuadPart);
    EXPECT_EQ(4096 * 7, table.getTask("t-new").TransferKey.QuadPart);
    table.removeTask("t-new");
    EXPECT_FALSE(table.hasTask("t-new"));

    table.setCancelled("t-new", contextOfSize(1));
    EXPECT_TRUE(table.isCancelled("t-new"));
    EXPECT_FALSE(table.hasTask("t-new"));
    table.removeCancelled("t-new");
    EXPECT_FALSE(table.isCancelled("t-new"));
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
