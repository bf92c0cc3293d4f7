// The engine's small shared types and pure path rules.
#include <gtest/gtest.h>

#include <filesystem>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/file_time.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

TEST(PinStateConversionTest, ConvertsToAndFromTheCloudFilesStates) {
    EXPECT_EQ(toCfPinState(PinState::Inherit), CF_PIN_STATE_INHERIT);
    EXPECT_EQ(toCfPinState(PinState::AlwaysLocal), CF_PIN_STATE_PINNED);
    EXPECT_EQ(toCfPinState(PinState::OnlineOnly), CF_PIN_STATE_UNPINNED);
    EXPECT_EQ(toCfPinState(PinState::Unspecified), CF_PIN_STATE_UNSPECIFIED);
    EXPECT_EQ(fromCfPinState(CF_PIN_STATE_UNSPECIFIED), PinState::Unspecified);
    EXPECT_EQ(fromCfPinState(CF_PIN_STATE_PINNED), PinState::AlwaysLocal);
    EXPECT_EQ(fromCfPinState(CF_PIN_STATE_UNPINNED), PinState::OnlineOnly);
    EXPECT_EQ(fromCfPinState(CF_PIN_STATE_EXCLUDED), PinState::Inherit);
    EXPECT_EQ(fromCfPinState(CF_PIN_STATE_INHERIT), PinState::Inherit);
}

TEST(FileTimeTest, UnixSecondsAndWindowsFileTimesConvertBothWaysExactly) {
    EXPECT_EQ(filetime::fromUnixSeconds(0), 116444736000000000LL);
    for (qint64 seconds : {qint64(0), qint64(1), qint64(1700000000), qint64(4102444800), qint64(-86400)}) {
        LONGLONG ticks = filetime::fromUnixSeconds(seconds);
        EXPECT_EQ(ticks, seconds * 10000000LL + 116444736000000000LL);
        EXPECT_EQ(filetime::toUnixSeconds(ticks), seconds);
        EXPECT_EQ(filetime::unixSecondsFromFiletime(filetime::filetimeFromUnixSeconds(seconds)), seconds);
    }
    FILETIME split = filetime::filetimeFromUnixSeconds(1700000000);
    EXPECT_EQ((ULONGLONG(split.dwHighDateTime) << 32) | split.dwLowDateTime, 133444736000000000ULL);
}

TEST(ResultTest, ReadingAnErrorResultIsLoggedAtCriticalLevelAndStillAnswersTheStoredValue) {
    auto result = Result<PinState>::error(PinState::Unspecified);
    EXPECT_FALSE(result.isValid());
    LogCapture capture;
    EXPECT_EQ(result.get(), PinState::Unspecified);
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 5);
    EXPECT_NE(lines[0].text.find("ASSERT: \"!_isError\" in file result, line "), std::string::npos) << lines[0].text;
}

TEST(ScopedHandleTest, MovingTransfersOwnershipAndTheOwnerClosesTheHandle) {
    auto file = nimbrel::test::makeScratchDir("handles") + "/a.txt";
    nimbrel::test::writeFile(file, "x");
    HANDLE raw = CreateFileW(QString::fromStdString(file).toStdWString().c_str(), FILE_READ_ATTRIBUTES, 0, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(raw, INVALID_HANDLE_VALUE);
    ScopedHandle moved;
    {
        ScopedHandle owner(raw);
        EXPECT_TRUE(owner.isValid());
        moved = std::move(owner);
        EXPECT_FALSE(owner.isValid());
    }
    // The moved-from owner went out of scope without closing what it no longer owns.
    EXPECT_TRUE(moved.isValid());
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(moved.get(), &info));
    moved.close();
    EXPECT_FALSE(moved.isValid());
    EXPECT_FALSE(CloseHandle(raw));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(TransientNameTest, EightHexDigitFileNamesAreTransientFoldersNot) {
    EXPECT_TRUE(CfApiWrapper::isTransientFile("C:\\Sync\\1A2B3C4D", 1));
    EXPECT_TRUE(CfApiWrapper::isTransientFile("C:\\Sync\\deadbeef", 0));
    // The name is what follows the later of the two separators.
    EXPECT_TRUE(CfApiWrapper::isTransientFile("C:\\Sync/sub\\0123abcd", 1));
    EXPECT_TRUE(CfApiWrapper::isTransientFile("C:/Sync\\sub/0123ABCD", 1));
    EXPECT_TRUE(CfApiWrapper::isTransientFile("C:\\Sync\\0123abcd\\.\\", 1));

    EXPECT_FALSE(CfApiWrapper::isTransientFile("C:\\Sync\\1A2B3C4D", 2));
    EXPECT_FALSE(CfApiWrapper::isTransientFile("C:\\Sync\\1A2B3C4G", 1));
    EXPECT_FALSE(CfApiWrapper::isTransientFile("C:\\Sync\\1A2B3C4D.tmp", 1));
    EXPECT_FALSE(CfApiWrapper::isTransientFile("C:\\Sync\\1A2B3C4", 1));
    EXPECT_FALSE(CfApiWrapper::isTransientFile("C:\\Sync\\1A2B3C4DE", 1));
    EXPECT_FALSE(CfApiWrapper::isTransientFile("C:\\Sync\\x\\1A2B3C4D\\..", 1));

    // An unknown type is transient unless a folder of that name exists.
    auto scratch = nimbrel::test::makeScratchDir("transient");
    std::filesystem::create_directories(scratch + "/ABCDEF01");
    nimbrel::test::writeFile(scratch + "/ABCDEF02", "x");
    auto win = [&](const std::string& name) { return QString::fromStdString(scratch + "/" + name).replace('/', '\\'); };
    EXPECT_FALSE(CfApiWrapper::isTransientFile(win("ABCDEF01"), -1));
    EXPECT_TRUE(CfApiWrapper::isTransientFile(win("ABCDEF02"), -1));
    EXPECT_TRUE(CfApiWrapper::isTransientFile(win("ABCDEF03"), -1));
}

TEST(PathRulesTest, LongPathsGetTheirPrefixOnceRepairCopiesAreDotFiles) {
    EXPECT_EQ(CfApiWrapper::toLongPath(""), "");
    EXPECT_EQ(CfApiWrapper::toLongPath("C:\\a\\b"), "\\\\?\\C:\\a\\b");
    EXPECT_EQ(CfApiWrapper::toLongPath("C:/a/b"), "\\\\?\\C:\\a\\b");
    EXPECT_EQ(CfApiWrapper::toLongPath("\\tmp\\x"), "\\\\?\\tmp\\x");
    EXPECT_EQ(CfApiWrapper::toLongPath("\\\\server\\share\\x"), "\\\\server\\share\\x");
    EXPECT_EQ(CfApiWrapper::toLongPath("\\\\?\\C:\\a"), "\\\\?\\C:\\a");
    // Repair copies are dot files beside the file.
    EXPECT_EQ(CfApiWrapper::repairTempPath("C:\\Sync\\docs\\a.txt"), "C:/Sync/docs/.a.txt.hardlink_repair.tmp");
    EXPECT_EQ(CfApiWrapper::repairTempPath("/home/ann/Sync/b"), "/home/ann/Sync/.b.hardlink_repair.tmp");
}

TEST(WindowsErrorTextTest, NamesTheCodeInLowerCaseHexAndTheSystemMessage) {
    QString text = CfApiWrapper::windowsErrorText(static_cast<HRESULT>(0x8007018C));
    EXPECT_TRUE(text.startsWith("WindowsError: 8007018c: ")) << text.toStdString();
    EXPECT_GT(text.size(), QString("WindowsError: 8007018c: ").size()) << text.toStdString();
    EXPECT_FALSE(text.endsWith('\n'));
}
