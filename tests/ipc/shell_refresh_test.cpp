// Shell refresh coalescing as Explorer would see it: the records the shell journal receives, with
// the throttles' clock driven by the test.
#include "ipc/shell_refresh.h"

#include <gtest/gtest.h>

#include <QDir>
#include <atomic>
#include <functional>
#include <mutex>

#include "ipc/shell_path.h"
#include "ipc/shell_refresh_clock.h"
#include "platform/shell_journal.h"
#include "platform/shlobj.h"
#include "suite/base/winpath.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace {

using nimbrel::platform::readShellJournal;
using nimbrel::platform::ShellJournalRecord;

class ManualClock : public ShellRefreshClock {
public:
    long long nowMs() const override { return now_; }
    void setJumpListener(std::function<void()> listener) override {
        std::lock_guard<std::mutex> lock(mutex_);
        listener_ = std::move(listener);
    }
    void set(long long now) {
        now_ = now;
        std::lock_guard<std::mutex> lock(mutex_);
        if (listener_) listener_();
    }

private:
    std::atomic<long long> now_{0};
    std::mutex mutex_;
    std::function<void()> listener_;
};

// How many journal records carry `event` for the host path `path`.
int countEvents(long event, const std::string& path) {
    int count = 0;
    for (const ShellJournalRecord& record : readShellJournal()) {
        if (record.event == static_cast<std::uint32_t>(event) && !record.paths.empty() &&
            record.paths[0].host == path) {
            ++count;
        }
    }
    return count;
}

class ShellRefreshTest : public testing::Test {
protected:
    void SetUp() override { QDir().mkpath(QString::fromStdString(root_ + "/a/b")); }
    std::string root_ = nimbrel::test::makeScratchDir("Sync");
    ManualClock clock_;
    LogCapture log_;
};

TEST(ShellPathTest, NormalizesAndResolvesRoots) {
    struct Case {
        QString path, expected;
    } normal[] = {{"C:\\", "C:\\"},
                  {"D:\\Sync\\", "D:\\Sync"},
                  {"D:/Sync/./a/../b//", "D:\\Sync\\b"},
                  {"D:\\Sync\\.a\\..", "D:\\Sync"},
                  {"\\a\\\\b", "\\a\\b"},
                  {"\\\\srv\\share\\a.", "\\\\srv\\share\\a."},
                  {"", ""}};
    for (const Case& c : normal) EXPECT_EQ(normalizeShellPath(c.path), c.expected) << c.path.toStdString();

    const std::vector<std::wstring> mounts = {L"D:\\Sync", L"D:\\Sync\\Deep"};
    EXPECT_EQ(resolveRoot("d:\\sync\\deep\\x.txt", mounts, ""), "D:\\Sync\\Deep");
    EXPECT_EQ(resolveRoot("D:\\Sync\\x.txt", mounts, "D:\\Sync\\"), "D:\\Sync");
    EXPECT_EQ(resolveRoot("D:\\Syncx\\x.txt", mounts, "C:\\"), "");
    EXPECT_TRUE(isWithin("C:\\a", "C:\\"));
    EXPECT_FALSE(isWithin("D:\\Syncx", "D:\\Sync"));
}

// On the process's own clock nothing but a change wakes the flush thread, also once it has emptied.
TEST(ShellFolderDebouncerTest, ALoneChangeIsFlushedOnTheSteadyClock) {
    std::mutex mutex;
    QStringList flushed;
    ShellFolderDebouncer debouncer(ShellRefreshClock::steady(), [&](const QString& folder, const QString&) {
        std::lock_guard<std::mutex> lock(mutex);
        flushed << folder;
    });
    for (const QString folder : {"D:\\a", "D:\\b"}) {
        debouncer.debounceFolderRefresh(folder, "test");
        EXPECT_TRUE(nimbrel::test::waitUntil([&] {
            std::lock_guard<std::mutex> lock(mutex);
            return flushed.contains(folder);
        })) << folder.toStdString();
    }
}

// 100 files ending in one folder within a second: after the root burst only the debounced folder
// refreshes remain, one per ancestor up to the root, a second after the last change.
TEST_F(ShellRefreshTest, FinalFilesInOneFolderGiveOneDebouncedRefreshPerAncestor) {
    {
        CShellRefresh refresh(clock_);
        for (int i = 0; i < 100; ++i) {
            clock_.set(i * 10);
            refresh.notifyFinalLocalFile(QString::fromStdString(root_ + "/a/b/f" + std::to_string(i) + ".txt"), {},
                                         QString::fromStdString(root_), "test.final", "test.final-parent");
        }
        clock_.set(990 + ShellFolderDebouncer::kDelayMs);
        for (const std::string& folder : {root_ + "/a/b", root_ + "/a", root_}) {
            EXPECT_TRUE(nimbrel::test::waitUntil([&] { return countEvents(SHCNE_UPDATEDIR, folder) > 0; })) << folder;
        }
    }
    for (const std::string& folder : {root_ + "/a/b", root_ + "/a", root_}) {
        EXPECT_EQ(countEvents(SHCNE_UPDATEDIR, folder), 1) << folder;
    }
    EXPECT_EQ(countEvents(SHCNE_UPDATEDIR, root_.substr(0, root_.rfind('/'))), 0);
    EXPECT_EQ(countEvents(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, root_ + "/a/b/f15.txt"), 1);
    EXPECT_EQ(countEvents(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, root_ + "/a/b/f16.txt"), 0);
    EXPECT_EQ(log_.count("flush debounced ancestor shell refresh source:pushFileAdd.final-local-file-root-burst-parent-"
                         "solid path:" +
                         winpath::toNativeSeparators(QString::fromStdString(root_)).toStdString() +
                         "\\a\\b updateCount:100 delayMs:1000"),
              1);
}

// The 25th file under one parent within 3 s is coalesced into a refresh of the parent, sent at once
// and then at most every 500 ms or every 64th coalesced file.
TEST_F(ShellRefreshTest, ParentBurstCoalescesIntoOccasionalParentRefreshes) {
    struct Step {
        long long timeMs;
        bool coalesced;
        bool notifyParent;
    };
    const std::vector<std::pair<int, Step>> expected = {
        {24, {100, false, false}}, {25, {100, true, true}},  {26, {300, true, false}},
        {27, {600, true, true}},   {28, {700, true, false}}, {88, {700, true, true}},
    };
    CShellRefresh refresh(clock_);
    int file = 0;
    for (const auto& [count, step] : expected) {
        clock_.set(step.timeMs);
        ParentBurst burst;
        while (file < count) burst = refresh.parentBurst(QString("D:\\Sync\\a\\f%1").arg(file++));
        EXPECT_EQ(burst.coalesced, step.coalesced) << count;
        EXPECT_EQ(burst.notifyParent, step.notifyParent) << count;
        EXPECT_EQ(burst.parent, "D:\\Sync\\a");
    }
    clock_.set(3801);
    EXPECT_FALSE(refresh.parentBurst("D:\\Sync\\a\\late").coalesced);

    // Through the notify operation: the root's window restarts, so the parent's burst decides.
    const QString root = QString::fromStdString(root_);
    auto finalFile = [&](const std::string& name) {
        refresh.notifyFinalLocalFile(QString::fromStdString(root_ + name), {}, root, "s", "p");
    };
    clock_.set(10000);
    finalFile("/other.txt");
    clock_.set(13000);
    for (int i = 0; i < 15; ++i) finalFile("/a/g" + std::to_string(i));
    clock_.set(15001);
    for (int i = 15; i < 25; ++i) finalFile("/a/g" + std::to_string(i));
    EXPECT_EQ(countEvents(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, root_ + "/a/g23"), 1);
    EXPECT_EQ(countEvents(SHCNE_UPDATEITEM | SHCNE_ATTRIBUTES, root_ + "/a/g24"), 0);
    EXPECT_EQ(log_.count("notify shell item changed source:pushFileAdd.final-local-file-batch-solid path:" +
                         winpath::toNativeSeparators(root).toStdString() + "\\a relatedDir:false"),
              1);
}

// Without a root the walk climbs to the top, 64 levels at most; every map keeps its bound.
TEST_F(ShellRefreshTest, WalksAndMapsStayBounded) {
    CShellRefresh refresh(clock_);
    QString deep = "E:";
    for (int i = 0; i < 70; ++i) deep += QString("\\d%1").arg(i);
    refresh.scheduleAncestorRefresh(deep + "\\file.txt", {L"D:\\Sync"}, "D:\\Sync", "test");
    EXPECT_EQ(refresh.debouncedCount(), 64u);

    for (int i = 0; i < 3000; ++i) {
        refresh.notifyRemoteCreateVisible(QString("\\r%1\\x%2\\new").arg(i % 100).arg(i), i % 2 == 0, {}, "");
    }
    EXPECT_EQ(refresh.debouncedCount(), ShellFolderDebouncer::kMaxEntries);
    EXPECT_EQ(refresh.rootBurstCount(), ShellRootBurstLimiter::kMaxEntries);
    for (int i = 0; i < 1000; ++i) refresh.parentBurst(QString("G:\\p%1\\f").arg(i));
    EXPECT_EQ(refresh.parentBurstCount(), ShellParentBurstLimiter::kMaxEntries);
}

}  // namespace
