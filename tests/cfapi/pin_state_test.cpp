// Pin and in-sync state, and the metadata update with its refusals.
#include <vector>

#include "cfapi/sync_root_fixture.h"
#include "platform/fault_injection.h"
#include "suite/logbridge/log_capture.h"

namespace faults = nimbrel::platform::faults;

using PinStateTest = SyncRootTest;

TEST_F(PinStateTest, AFolderIsPinnedWhateverWasAskedAndRecursionCarriesItToItsContents) {
    createFolder("f");
    createFolder("f/sub");
    createFile("f/sub/a.txt", 0);
    createFile("f/b.txt", 0);
    ASSERT_TRUE(CfApiWrapper::setPinState(win("f"), PinState::OnlineOnly, PinRecursionRecurse));
    EXPECT_EQ(pinOf("f"), CF_PIN_STATE_PINNED);
    EXPECT_EQ(pinOf("f/sub"), CF_PIN_STATE_PINNED);
    EXPECT_EQ(pinOf("f/sub/a.txt"), CF_PIN_STATE_PINNED);
    EXPECT_EQ(pinOf("f/b.txt"), CF_PIN_STATE_PINNED);
}

TEST_F(PinStateTest, AlwaysLocalPinsOnlyFilesWhoseDataIsOnTheDisk) {
    createFile("dataless.bin", 10);
    createFile("empty.bin", 0);
    makeFile("local.bin", "0123456789");
    ASSERT_EQ(
        CfApiWrapper::convertToPlaceholder(win("local.bin"), itemFor(win("local.bin"), 1), 10, "id-l", {}, nullptr), 0);
    const struct {
        const char* name;
        CF_PIN_STATE expected;
    } cases[] = {{"dataless.bin", CF_PIN_STATE_UNPINNED},
                 {"empty.bin", CF_PIN_STATE_PINNED},
                 {"local.bin", CF_PIN_STATE_PINNED}};
    for (const auto& c : cases) {
        ASSERT_TRUE(CfApiWrapper::setPinState(win(c.name), PinState::AlwaysLocal, PinRecursionNone)) << c.name;
        EXPECT_EQ(pinOf(c.name), c.expected) << c.name;
    }
}

TEST_F(PinStateTest, AnyPinChangePinsEveryFolderUpToButNotIncludingTheRoot) {
    createFolder("a");
    createFolder("a/b");
    createFile("a/b/c.txt", 0);
    setRawPin("a", CF_PIN_STATE_UNSPECIFIED);
    setRawPin("a/b", CF_PIN_STATE_UNSPECIFIED);
    const CF_PIN_STATE rootPin = pinOf("");

    ASSERT_TRUE(CfApiWrapper::setPinState(win("a/b/c.txt"), PinState::OnlineOnly, PinRecursionNone));
    EXPECT_EQ(pinOf("a/b/c.txt"), CF_PIN_STATE_UNPINNED);
    EXPECT_EQ(pinOf("a"), CF_PIN_STATE_PINNED);
    EXPECT_EQ(pinOf("a/b"), CF_PIN_STATE_PINNED);
    EXPECT_EQ(pinOf(""), rootPin);

    EXPECT_EQ(CfApiWrapper::ancestorFolders(win("a/b/c.txt")), QStringList({win("a/b"), win("a")}));
    EXPECT_EQ(CfApiWrapper::ancestorFolders(win("a/b")), QStringList({win("a/b"), win("a")}));
}

TEST_F(PinStateTest, AnUnchangedPinStateMakesNoCallExceptWithRecursion) {
    createFile("same.txt", 0);
    ASSERT_TRUE(CfApiWrapper::setPinState(win("same.txt"), PinState::OnlineOnly, PinRecursionNone));
    faults::resetCallCounts();
    ASSERT_TRUE(CfApiWrapper::setPinState(win("same.txt"), PinState::OnlineOnly, PinRecursionNone));
    EXPECT_EQ(faults::callCount("CfSetPinState"), 0);
    // With recursion the call is always made.
    createFolder("dir");
    ASSERT_TRUE(CfApiWrapper::setPinState(win("dir"), PinState::AlwaysLocal, PinRecursionNone));
    faults::resetCallCounts();
    ASSERT_TRUE(CfApiWrapper::setPinState(win("dir"), PinState::AlwaysLocal, PinRecursionRecurse));
    EXPECT_EQ(faults::callCount("CfSetPinState"), 1);

    // The sync-to-local form compares the requested state, even with recursion, and skips the dataless rule.
    createFile("remote.bin", 10);
    ASSERT_TRUE(CfApiWrapper::setSyncToLocalPinState(win("remote.bin"), PinState::AlwaysLocal, PinRecursionNone));
    EXPECT_EQ(pinOf("remote.bin"), CF_PIN_STATE_PINNED);
    faults::resetCallCounts();
    ASSERT_TRUE(CfApiWrapper::setSyncToLocalPinState(win("remote.bin"), PinState::AlwaysLocal, PinRecursionRecurse));
    EXPECT_EQ(faults::callCount("CfSetPinState"), 0);
}

TEST_F(PinStateTest, AFailedPinChangeIsLoggedAndReported) {
    createFile("x.txt", 0);
    faults::add({"CfSetPinState", "", 1, static_cast<HRESULT>(0x80070005)});
    LogCapture capture;
    EXPECT_FALSE(CfApiWrapper::setPinState(win("x.txt"), PinState::OnlineOnly, PinRecursionNone));
    EXPECT_TRUE(capture.contains("Couldn't set pin state"));
    EXPECT_TRUE(capture.contains("0x80070005"));
    EXPECT_FALSE(CfApiWrapper::setPinState(win("gone.txt"), PinState::OnlineOnly, PinRecursionNone));
    EXPECT_TRUE(capture.contains("handleForPath invalid handle, path:"));
}

TEST_F(PinStateTest, ExcludingMarksTheItemAndEverythingBelowIt) {
    createFolder("ex");
    createFile("ex/a.txt", 0);
    EXPECT_EQ(CfApiWrapper::setPathExcludedState(win("ex")), 0);
    EXPECT_EQ(pinOf("ex"), CF_PIN_STATE_EXCLUDED);
    EXPECT_EQ(pinOf("ex/a.txt"), CF_PIN_STATE_EXCLUDED);
    EXPECT_EQ(CfApiWrapper::setPathExcludedState(win("missing")), 1);
}

TEST_F(PinStateTest, GetPinStateReadsBackTheEnginesNamesAndFailsForOrdinaryFiles) {
    createFile("p.txt", 0);
    ASSERT_TRUE(CfApiWrapper::setPinState(win("p.txt"), PinState::OnlineOnly, PinRecursionNone));
    Result<PinState> pin = CfApiWrapper::getPinState(win("p.txt"));
    ASSERT_TRUE(pin.isValid());
    EXPECT_EQ(pin.get(), PinState::OnlineOnly);

    makeFile("plain.txt", "x");
    LogCapture capture;
    EXPECT_FALSE(CfApiWrapper::getPinState(win("plain.txt")).isValid());
    EXPECT_TRUE(capture.contains("Couldn't find pin state for regular non-placeholder file"));
}

TEST_F(PinStateTest, InSyncStateChangesOnlyWhenItDiffers) {
    createFile("s.txt", 0);
    faults::resetCallCounts();
    EXPECT_TRUE(CfApiWrapper::updateSyncState(win("s.txt"), CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE));
    EXPECT_EQ(faults::callCount("CfSetInSyncState"), 0);

    EXPECT_TRUE(CfApiWrapper::updateSyncState(win("s.txt"), CF_IN_SYNC_STATE_NOT_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE));
    EXPECT_EQ(faults::callCount("CfSetInSyncState"), 1);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("s.txt"))->InSyncState, CF_IN_SYNC_STATE_NOT_IN_SYNC);

    LogCapture capture;
    EXPECT_FALSE(CfApiWrapper::updateSyncState(win("none.txt"), CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE));
    EXPECT_TRUE(capture.contains("CfSetInSyncState failed, path:"));
    EXPECT_TRUE(capture.contains("0x80070006"));
}

class UpdatePlaceholderTest : public SyncRootTest {
protected:
    void SetUp() override {
        SyncRootTest::SetUp();
        makeFile("u.txt", "12345");
        item_ = itemFor(win("u.txt"), 1, 1650000000);
        ASSERT_EQ(CfApiWrapper::convertToPlaceholderEx(win("u.txt"), item_, 5, "Cloud-ID", {}, nullptr, false), 0);
    }
    int update(qint64 size, const QByteArray& identity, bool preserve = false) {
        return CfApiWrapper::updatePlaceholderInfo(win("u.txt"), item_, size, identity, {}, preserve);
    }
    PlaceholderItemInfo item_;
};

TEST_F(UpdatePlaceholderTest, NothingChangedMeansNoCallEvenWhenTheIdentityDiffersOnlyInCase) {
    // A created placeholder holds the pushed times, and so does the converted file, which the
    // conversion updated with them.
    const PlaceholderItemInfo created = itemFor(win("c.txt"), 1, 1650000000);
    ASSERT_EQ(CfApiWrapper::createPlaceholderInfo(win("c.txt"), false, created, 5, "Cloud-ID"), 0);
    faults::resetCallCounts();
    EXPECT_EQ(CfApiWrapper::updatePlaceholderInfo(win("c.txt"), created, 5, "cloud-id", {}, false), 0);
    EXPECT_EQ(update(5, "cloud-id"), 0);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 0);
    EXPECT_EQ(faults::callCount("CfSetPinState"), 0);
}

TEST_F(UpdatePlaceholderTest, ANewIdentityNewTimesOrALostInSyncStateAreWrittenAndThePinStateRestoredOrExcluded) {
    ASSERT_TRUE(CfApiWrapper::setPinState(win("u.txt"), PinState::AlwaysLocal, PinRecursionNone));
    faults::resetCallCounts();
    EXPECT_EQ(update(5, "other-id"), 0);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 1);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("u.txt")).identityText(), "other-id");
    EXPECT_EQ(pinOf("u.txt"), CF_PIN_STATE_PINNED);

    item_.modificationTime += 3600;
    EXPECT_EQ(update(5, "other-id"), 0);
    EXPECT_EQ(lastWriteOf("u.txt"), item_.modificationTime);

    ASSERT_TRUE(CfApiWrapper::updateSyncState(win("u.txt"), CF_IN_SYNC_STATE_NOT_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE));
    EXPECT_EQ(update(5, "other-id"), 0);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("u.txt"))->InSyncState, CF_IN_SYNC_STATE_IN_SYNC);

    EXPECT_EQ(update(5, "-1"), 0);
    EXPECT_EQ(pinOf("u.txt"), CF_PIN_STATE_EXCLUDED) << "a local-only identity excludes the item";
}

TEST_F(UpdatePlaceholderTest, IdentitiesOf2047CharactersAreAcceptedAnd2048Refused) {
    // Refused before any call: 2 x (2048 + 1) bytes is more than a placeholder may carry.
    faults::resetCallCounts();
    EXPECT_EQ(update(5, QByteArray(2048, 'y')), 1);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 0);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("u.txt")).identityText(), "Cloud-ID");

    EXPECT_EQ(update(5, QByteArray(2047, 'z')), 0);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 1);
    HANDLE file = CreateFileW(win("u.txt").toStdWString().c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<BYTE> buffer(4128);
    DWORD returned = 0;
    ASSERT_EQ(CfGetPlaceholderInfo(file, CF_PLACEHOLDER_INFO_BASIC, buffer.data(), 4128, &returned), S_OK);
    CloseHandle(file);
    EXPECT_EQ(reinterpret_cast<CF_PLACEHOLDER_BASIC_INFO*>(buffer.data())->FileIdentityLength, 4096u);
}

TEST_F(UpdatePlaceholderTest, EveryMalformedRequestIsRefusedAndAFailedUpdateIsReported) {
    faults::resetCallCounts();
    EXPECT_EQ(update(5, ""), 1);
    EXPECT_EQ(update(5, QByteArray("ab\0cd", 5)), 1);
    EXPECT_EQ(update(-1, "id"), 1);
    EXPECT_EQ(CfApiWrapper::updatePlaceholderInfo("", item_, 5, "id", {}, false), 1);
    makeFile("plain.txt", "x");
    EXPECT_EQ(CfApiWrapper::updatePlaceholderInfo(win("plain.txt"), item_, 1, "id", {}, false), 1);
    EXPECT_EQ(CfApiWrapper::updatePlaceholderInfo(win("plain.txt"), item_, 1, "id", win("u.txt"), false), 1);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 0);

    // A failing update is reported with its HRESULT.
    faults::add({"CfUpdatePlaceholder", "", 1, static_cast<HRESULT>(0x8007018B)});
    LogCapture capture;
    EXPECT_EQ(update(5, "changed"), 1);
    EXPECT_TRUE(capture.contains("CfUpdatePlaceholder failed, path ="));
    EXPECT_TRUE(capture.contains("0x8007018B"));
}

TEST_F(UpdatePlaceholderTest, PreservingNativeTimesRefusesFoldersAndChangedFilesAndKeepsTheFilesOwnTimes) {
    createFolder("dir");
    LogCapture capture;
    EXPECT_EQ(CfApiWrapper::updatePlaceholderInfo(win("dir"), itemFor(win("dir"), 2), 0, "id-d", {}, true), 1);
    EXPECT_TRUE(capture.contains("[ziduzudu-preserve-native-time] reject directory projection, path:"));
    EXPECT_EQ(update(6, "Cloud-ID", true), 1);
    EXPECT_TRUE(capture.contains("[ziduzudu-preserve-native-time] reject changed placeholder update path:"));
    EXPECT_TRUE(capture.contains(" expectedSize:6 actualSize:5"));

    const qint64 before = lastWriteOf("u.txt");
    item_.modificationTime += 7200;
    faults::resetCallCounts();
    EXPECT_EQ(update(5, "Cloud-ID", true), 0);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 0);
    EXPECT_EQ(update(5, "new-id", true), 0);
    EXPECT_EQ(faults::callCount("CfUpdatePlaceholder"), 1);
    EXPECT_EQ(lastWriteOf("u.txt"), before);
    EXPECT_EQ(CfApiWrapper::findPlaceholderInfo(win("u.txt")).identityText(), "new-id");
}
