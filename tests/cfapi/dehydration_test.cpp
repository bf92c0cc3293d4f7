// Freeing a placeholder's data while keeping its identity and in-sync state.
#include <filesystem>

#include "cfapi/sync_root_fixture.h"
#include "platform/fault_injection.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace faults = nimbrel::platform::faults;

namespace {

class DehydrationTest : public SyncRootTest {
protected:
    void SetUp() override {
        SyncRootTest::SetUp();
        makeFile("full.txt", "hello world");
        ASSERT_EQ(CfApiWrapper::convertToPlaceholder(win("full.txt"), itemFor(win("full.txt"), 1), 11, "id-full", {},
                                                     nullptr),
                  0);
        ASSERT_FALSE(attributesOf("full.txt") & FILE_ATTRIBUTE_SPARSE_FILE);
    }
    int dehydrate(const QByteArray& identity) {
        return CfApiWrapper::dehydratePlaceholder(win("full.txt"), 11, identity);
    }
};

}  // namespace

TEST_F(DehydrationTest, TheDataGoesTheIdentityStaysAndThePlaceholderIsInSync) {
    ASSERT_TRUE(CfApiWrapper::updateSyncState(win("full.txt"), CF_IN_SYNC_STATE_NOT_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE));
    EXPECT_EQ(dehydrate("id-full"), 0);
    PlaceholderInfo info = CfApiWrapper::findPlaceholderInfo(win("full.txt"));
    ASSERT_TRUE(info.isValid());
    EXPECT_EQ(info.identityText(), "id-full");
    // Written without the terminating NUL: two bytes shorter than the creation blob.
    EXPECT_EQ(info->FileIdentityLength, 14u);
    EXPECT_EQ(info->InSyncState, CF_IN_SYNC_STATE_IN_SYNC);
    EXPECT_TRUE(attributesOf("full.txt") & FILE_ATTRIBUTE_SPARSE_FILE);
    EXPECT_EQ(std::filesystem::file_size(host("full.txt")), 11u);
}

TEST_F(DehydrationTest, AnEmptyIdentityAnOrdinaryFileOrATransientNameChangeNothing) {
    makeFile("plain.txt", "content");
    LogCapture capture;
    faults::resetCallCounts();
    EXPECT_EQ(dehydrate(""), 1);
    EXPECT_TRUE(capture.contains("Invalid parameters for dehydratePlaceholder:"));
    EXPECT_FALSE(attributesOf("full.txt") & FILE_ATTRIBUTE_SPARSE_FILE);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("full.txt")).identityText(), "id-full");

    EXPECT_EQ(CfApiWrapper::dehydratePlaceholder(win("plain.txt"), 7, "id"), 1);
    EXPECT_TRUE(capture.contains("Can't update non-existing placeholder info:"));
    EXPECT_EQ(nimbrel::test::readFile(host("plain.txt")), "content");

    EXPECT_EQ(CfApiWrapper::dehydratePlaceholder(win("89abcdef"), 1, "id"), 0);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 0);
}

// Its own, or the one the caller holds for the item.
TEST_F(DehydrationTest, WithoutTheOplockTheOrdinaryHandleIsUsed) {
    for (const std::string name : {"own.txt", "held.txt"}) {
        makeFile(name, "hello world");
        ASSERT_EQ(CfApiWrapper::convertToPlaceholder(win(name), itemFor(win(name), 1), 11, "id", {}, nullptr), 0);
        KnownItemState known;
        ASSERT_TRUE(CfApiWrapper::findPlaceholderInfo(win(name), &known));
        if (name == "own.txt") known.handle.close();
        faults::add({"CfOpenFileWithOplock", "", 1, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)});
        LogCapture capture;
        EXPECT_EQ(CfApiWrapper::dehydratePlaceholder(win(name), 11, "id", &known), 0) << name;
        EXPECT_TRUE(capture.contains("Open File With OpLock Failed, "));
        EXPECT_TRUE(capture.contains("0x80070020"));
        EXPECT_TRUE(attributesOf(name) & FILE_ATTRIBUTE_SPARSE_FILE) << name;
    }
}

TEST_F(DehydrationTest, APinnedFileKeepsItsDataAndTheFailureIsReported) {
    ASSERT_TRUE(CfApiWrapper::setPinState(win("full.txt"), PinState::AlwaysLocal, PinRecursionNone));
    LogCapture capture;
    EXPECT_EQ(dehydrate("id-full"), 1);
    EXPECT_TRUE(capture.contains("Couldn't update placeholder info for"));
    EXPECT_EQ(nimbrel::test::readFile(host("full.txt")), "hello world");
}
