// The availability summary the context menu shows, on real trees.
#include "cfapi/sync_root_fixture.h"

namespace {

class AvailabilityTest : public SyncRootTest {
protected:
    // A placeholder whose data is on the disk.
    void localFile(const std::string& relative, const std::string& content) {
        makeFile(relative, content);
        ASSERT_EQ(CfApiWrapper::convertToPlaceholder(win(relative), itemFor(win(relative), 1),
                                                     static_cast<qint64>(content.size()), "id-local", {}, nullptr),
                  0);
    }
    int state(const std::string& relative, bool stopEarly = false) {
        return CfApiWrapper::availabilityState(win(relative), stopEarly);
    }
};

}  // namespace

TEST_F(AvailabilityTest, LocalContentIs0WhenAlwaysLocal1OtherwiseAndAMissingPath5) {
    localFile("kept.txt", "data");
    ASSERT_TRUE(CfApiWrapper::setPinState(win("kept.txt"), PinState::AlwaysLocal, PinRecursionNone));
    EXPECT_EQ(state("kept.txt"), 0);

    localFile("here.txt", "data");
    EXPECT_EQ(state("here.txt"), 1);
    makeFile("plain.txt", "not a placeholder");
    EXPECT_EQ(state("plain.txt"), 1);
    EXPECT_EQ(state("nothing-here"), 5) << "a missing path";
}

// An empty file counts as online when it is not on the device or resolves to online-only.
TEST_F(AvailabilityTest, OnlineContentIs4WhenOnlineOnlyAnd3Otherwise) {
    createFile("cloud.bin", 100);
    EXPECT_TRUE(attributesOf("cloud.bin") & FILE_ATTRIBUTE_SPARSE_FILE);
    EXPECT_EQ(state("cloud.bin"), 3);
    ASSERT_TRUE(CfApiWrapper::setPinState(win("cloud.bin"), PinState::OnlineOnly, PinRecursionNone));
    EXPECT_EQ(state("cloud.bin"), 4);

    createFile("zero.txt", 0);
    EXPECT_TRUE(attributesOf("zero.txt") & FILE_ATTRIBUTE_OFFLINE);
    EXPECT_EQ(state("zero.txt"), 4);
    localFile("empty.txt", "");
    EXPECT_EQ(state("empty.txt"), 1);
    ASSERT_TRUE(CfApiWrapper::setPinState(win("empty.txt"), PinState::OnlineOnly, PinRecursionNone));
    EXPECT_EQ(state("empty.txt"), 4);
    makeFile("plain-empty.txt", "");
    EXPECT_EQ(state("plain-empty.txt"), 1);
}

TEST_F(AvailabilityTest, AFolderTakesTheStateOfItsWholeTreeAndMixedContentIs2) {
    createFolder("deep");
    createFolder("deep/er");
    createFile("deep/er/cloud.bin", 50);
    EXPECT_EQ(state("deep"), 3);
    localFile("deep/er/local.txt", "x");
    EXPECT_EQ(state("deep"), 2);
    EXPECT_EQ(state("deep", true), 2) << "stopping at the first mixed finding";
    // An empty folder placeholder counts as local content of its own, and the engine keeps it pinned.
    createFolder("empty");
    EXPECT_EQ(state("empty"), 0);
}

TEST_F(AvailabilityTest, OnlineOnlyResolvesThroughExplicitStatesAndParents) {
    EXPECT_TRUE(CfApiWrapper::resolvesToOnlineOnly(win("x"), PinState::OnlineOnly, PinState::Inherit));
    EXPECT_FALSE(CfApiWrapper::resolvesToOnlineOnly(win("x"), PinState::AlwaysLocal, PinState::OnlineOnly));
    EXPECT_FALSE(CfApiWrapper::resolvesToOnlineOnly(win("x"), PinState::Unspecified, PinState::OnlineOnly));
    EXPECT_TRUE(CfApiWrapper::resolvesToOnlineOnly(win("x"), PinState::Inherit, PinState::OnlineOnly));

    createFolder("up");
    createFile("up/z.txt", 0);
    setRawPin("up", CF_PIN_STATE_UNPINNED);
    EXPECT_TRUE(CfApiWrapper::resolvesToOnlineOnly(win("up/z.txt"), PinState::Inherit, PinState::Inherit));
    ASSERT_TRUE(CfApiWrapper::setPinState(win("up"), PinState::AlwaysLocal, PinRecursionNone));
    EXPECT_FALSE(CfApiWrapper::resolvesToOnlineOnly(win("up/z.txt"), PinState::Inherit, PinState::Inherit));
}
