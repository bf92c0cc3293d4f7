// The duplicate guard's bounds and its matching rule, on a clock the test moves.
#include "ipc/mirror_dedup_guard.h"

#include <gtest/gtest.h>

namespace nimbrel::test {
namespace {

class MirrorDedupGuardTest : public testing::Test {
protected:
    std::uint64_t now_ = 1000000;
    MirrorDedupGuard guard_{[this] { return now_; }};
    MirrorPushState state_{"id", 5, 1, 0, 3, false, 10, 20, 30};
};

TEST_F(MirrorDedupGuardTest, OnlyAnUnchangedSuccessfulPushOfTheSamePathIsADuplicate) {
    guard_.record("C:\\Sync\\A.txt", state_, 0);
    guard_.record("C:\\Sync\\failed.txt", state_, 1);
    guard_.record("", state_, 0);
    EXPECT_EQ(1u, guard_.size());

    now_ += 250;
    MirrorDedupHit hit = guard_.lookup("c:/sync/./x/../a.TXT", state_);
    EXPECT_TRUE(hit.isDuplicate);
    EXPECT_EQ(250u, hit.ageMs);
    EXPECT_EQ(1u, hit.suppressedCount);
    EXPECT_EQ(2u, guard_.lookup("C:\\Sync\\A.txt", state_).suppressedCount);
    EXPECT_FALSE(guard_.lookup("C:\\Sync\\failed.txt", state_).isDuplicate);

    auto changed = [&](auto change) {
        MirrorPushState other = state_;
        change(other);
        return guard_.lookup("C:\\Sync\\A.txt", other).isDuplicate;
    };
    EXPECT_FALSE(changed([](MirrorPushState& s) { s.id = "other"; }));
    EXPECT_FALSE(changed([](MirrorPushState& s) { s.size = 6; }));
    EXPECT_FALSE(changed([](MirrorPushState& s) { s.isVirtual = 1; }));
    EXPECT_FALSE(changed([](MirrorPushState& s) { s.status = 0; }));
    EXPECT_FALSE(changed([](MirrorPushState& s) { s.inUpQueue = true; }));
    EXPECT_FALSE(changed([](MirrorPushState& s) { s.accessTime = 31; }));

    EXPECT_EQ(1u, guard_.invalidate({"C:/SYNC/a.txt", "C:/Sync/none.txt"}));
    EXPECT_FALSE(guard_.lookup("C:\\Sync\\A.txt", state_).isDuplicate);
}

TEST_F(MirrorDedupGuardTest, EntriesLastAMinuteFromTheirRecordAndAtMost8192Remain) {
    guard_.record("/r/old", state_, 0);
    now_ += 30000;
    guard_.record("/r/young", state_, 0);
    now_ += 30000;
    // A hit does not make an entry younger.
    EXPECT_TRUE(guard_.lookup("/r/old", state_).isDuplicate);
    now_ += 1;
    EXPECT_FALSE(guard_.lookup("/r/old", state_).isDuplicate);
    EXPECT_TRUE(guard_.lookup("/r/young", state_).isDuplicate);

    for (int i = 0; i < 8200; ++i) guard_.record(QString("/r/%1").arg(i, 5, 10, QChar('0')), state_, 0);
    guard_.lookup("/r/none", state_);
    EXPECT_EQ(MirrorDedupGuard::kMaxEntries, guard_.size());
    // The smallest keys went first.
    EXPECT_FALSE(guard_.lookup("/r/00008", state_).isDuplicate);
    EXPECT_TRUE(guard_.lookup("/r/00010", state_).isDuplicate);
    EXPECT_TRUE(guard_.lookup("/r/young", state_).isDuplicate);
}

}  // namespace
}  // namespace nimbrel::test
