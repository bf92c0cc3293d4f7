// Placeholder creation, conversion and the basic-information read.

#include <filesystem>

#include "cfapi/file_time.h"
#include "cfapi/sync_root_fixture.h"
#include "platform/fault_injection.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace faults = nimbrel::platform::faults;

namespace {

QString identityOf(const PlaceholderInfo& info) { return info ? info.identityText() : QString("<none>"); }

}  // namespace

using PlaceholderTest = SyncRootTest;

TEST_F(PlaceholderTest, AFilePlaceholderCarriesSizeTimesAndIdentityInSync) {
    createFile("a.txt", 1234, "cloud-42");
    PlaceholderInfo info = CfApiWrapper::findPlaceholderInfo(win("a.txt"));
    ASSERT_TRUE(info.isValid());
    EXPECT_EQ(identityOf(info), "cloud-42");
    // Stored with its terminating NUL.
    EXPECT_EQ(info->FileIdentityLength, 2u * (8 + 1));
    EXPECT_EQ(info->InSyncState, CF_IN_SYNC_STATE_IN_SYNC);
    EXPECT_EQ(std::filesystem::file_size(host("a.txt")), 1234u);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(win("a.txt").toStdWString().c_str(), GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(filetime::unixSecondsFromFiletime(data.ftCreationTime), 1700000000);
    EXPECT_EQ(filetime::unixSecondsFromFiletime(data.ftLastWriteTime), 1700000060);
}

TEST_F(PlaceholderTest, TransientFilesAreNeverCreatedConvertedOrOpenedButSuchFoldersAreInSyncPlaceholders) {
    createFile("1A2B3C4D", 10);
    EXPECT_FALSE(std::filesystem::exists(host("1A2B3C4D")));

    makeFile("0000abcd", "local");
    bool updateLsid = true;
    EXPECT_EQ(CfApiWrapper::convertToPlaceholder(win("0000abcd"), itemFor(win("0000abcd"), 1), 5, "x", {}, &updateLsid),
              0);
    EXPECT_FALSE(updateLsid);
    EXPECT_FALSE(CfApiWrapper::handleForPath(win("0000abcd")).isValid());
    EXPECT_FALSE(CfApiWrapper::findPlaceholderInfo(win("0000abcd")).isValid());
    EXPECT_FALSE(attributesOf("0000abcd") & FILE_ATTRIBUTE_REPARSE_POINT);

    createFolder("1A2B3C4D");
    EXPECT_TRUE(std::filesystem::is_directory(host("1A2B3C4D")));
    EXPECT_TRUE(attributesOf("1A2B3C4D") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(attributesOf("1A2B3C4D") & FILE_ATTRIBUTE_REPARSE_POINT);
    PlaceholderInfo folder = CfApiWrapper::findPlaceholderInfo(win("1A2B3C4D"));
    ASSERT_TRUE(folder.isValid());
    EXPECT_EQ(identityOf(folder), "id-folder");
    EXPECT_EQ(folder->InSyncState, CF_IN_SYNC_STATE_IN_SYNC);
}

TEST_F(PlaceholderTest, OrdinaryMissingAndEmptyPathsHaveNoPlaceholderOrHandle) {
    makeFile("plain.txt", "data");
    makeFolder("dir");
    LogCapture capture;
    EXPECT_FALSE(CfApiWrapper::findPlaceholderInfo(win("plain.txt")).isValid());
    EXPECT_FALSE(capture.contains("CfGetPlaceholderInfo Failed")) << "an ordinary file is no failure";
    EXPECT_FALSE(CfApiWrapper::handleForPath("").isValid());
    EXPECT_FALSE(CfApiWrapper::handleForPath(win("missing.txt")).isValid());
    EXPECT_TRUE(capture.contains("handleForPath path is empty, path:"));
    EXPECT_TRUE(capture.contains("handleForPath path not exists, path:"));
    EXPECT_TRUE(CfApiWrapper::handleForPath(win("dir")).isValid());
}

TEST_F(PlaceholderTest, IdentitiesUpTo65CharactersReadBackLongerOnesAreStoredButUnreadable) {
    QByteArray id65(65, 'a');
    QByteArray id66(66, 'b');
    createFile("short.bin", 1, id65);
    createFile("long.bin", 1, id66);
    EXPECT_EQ(identityOf(CfApiWrapper::findPlaceholderInfo(win("short.bin"))), QString(id65));
    EXPECT_FALSE(CfApiWrapper::findPlaceholderInfo(win("long.bin")).isValid());
    // It is a placeholder all the same.
    EXPECT_TRUE(attributesOf("long.bin") & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(PlaceholderTest, ANewItemUnderAnOnlineOnlyFolderIsOnlineOnlyElsewhereItInherits) {
    createFolder("cold");
    createFolder("warm");
    // The engine keeps its own folders pinned; another provider tool may still leave one unpinned.
    setRawPin("cold", CF_PIN_STATE_UNPINNED);

    createFile("cold/a.txt", 10);
    createFile("warm/b.txt", 10);
    EXPECT_EQ(pinOf("cold/a.txt"), CF_PIN_STATE_UNPINNED);
    // The engine's folders are pinned, so an inheriting item ends up pinned like its folder.
    EXPECT_EQ(pinOf("warm"), CF_PIN_STATE_PINNED);
    EXPECT_EQ(pinOf("warm/b.txt"), CF_PIN_STATE_PINNED);
}

TEST_F(PlaceholderTest, ConvertingKeepsTheContentInSyncExcludesLocalOnlyItemsAndCopiesThePinSource) {
    auto convert = [&](const std::string& name, qint64 size, const QByteArray& identity, const QString& pinSource,
                       bool* updateLsid) {
        return CfApiWrapper::convertToPlaceholder(win(name), itemFor(win(name), 1), size, identity, pinSource,
                                                  updateLsid);
    };
    makeFile("local.txt", "hello");
    bool updateLsid = true;
    EXPECT_EQ(convert("local.txt", 5, "id-7", {}, &updateLsid), 0);
    EXPECT_FALSE(updateLsid);
    PlaceholderInfo info = CfApiWrapper::findPlaceholderInfo(win("local.txt"));
    ASSERT_TRUE(info.isValid());
    EXPECT_EQ(identityOf(info), "id-7");
    EXPECT_EQ(info->InSyncState, CF_IN_SYNC_STATE_IN_SYNC);
    EXPECT_NE(info->PinState, CF_PIN_STATE_EXCLUDED);
    EXPECT_EQ(nimbrel::test::readFile(host("local.txt")), "hello");

    makeFile("mine.txt", "only here");
    EXPECT_EQ(convert("mine.txt", 9, "-1", {}, nullptr), 0);
    EXPECT_EQ(pinOf("mine.txt"), CF_PIN_STATE_EXCLUDED);

    createFile("source.txt", 3);
    ASSERT_TRUE(CfApiWrapper::setPinState(win("source.txt"), PinState::OnlineOnly, PinRecursionNone));
    makeFile("copy.txt", "abc");
    EXPECT_EQ(convert("copy.txt", 3, "id-c", win("source.txt"), nullptr), 0);
    EXPECT_EQ(pinOf("copy.txt"), CF_PIN_STATE_UNPINNED);
}

TEST_F(PlaceholderTest, ConvertEitherConvertsAndUpdatesOrOnlyUpdatesAnExistingPlaceholder) {
    makeFile("ex.txt", "12345");
    auto item = itemFor(win("ex.txt"), 1, 1600000000);
    EXPECT_EQ(CfApiWrapper::convertToPlaceholderEx(win("ex.txt"), item, 5, "id-ex", {}, nullptr, false), 0);
    EXPECT_EQ(identityOf(CfApiWrapper::findPlaceholderInfo(win("ex.txt"))), "id-ex");
    EXPECT_EQ(lastWriteOf("ex.txt"), 1600000060);

    faults::resetCallCounts();
    EXPECT_EQ(CfApiWrapper::convertToPlaceholderEx(win("ex.txt"), item, 5, "id-ex2", {}, nullptr, false), 0);
    EXPECT_EQ(faults::callCount("CfConvertToPlaceholder"), 0);
    EXPECT_EQ(identityOf(CfApiWrapper::findPlaceholderInfo(win("ex.txt"))), "id-ex2");
}

TEST_F(PlaceholderTest, ReplacingAReadOnlyFileMovesTheNewContentIntoPlaceAFailureNamesTheError) {
    makeFile("final.txt", "old");
    QString error;
    EXPECT_FALSE(CfApiWrapper::replaceFileWith(win("absent.tmp"), win("final.txt"), &error));
    EXPECT_TRUE(error.startsWith("WindowsError: 2: ")) << error.toStdString();
    EXPECT_EQ(nimbrel::test::readFile(host("final.txt")), "old");

    makeFile("download.tmp", "new content");
    ASSERT_TRUE(SetFileAttributesW(win("final.txt").toStdWString().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(CfApiWrapper::replaceFileWith(win("download.tmp"), win("final.txt"), &error)) << error.toStdString();
    EXPECT_EQ(nimbrel::test::readFile(host("final.txt")), "new content");
    EXPECT_FALSE(std::filesystem::exists(host("download.tmp")));
}
