#include "suite/base/x_file_info.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <filesystem>

#include "platform/windows.h"
#include "support/test_env.h"

namespace {

// 100 ns ticks since 1601 of a UTC date-time, plus extra ticks below the millisecond.
FILETIME fileTimeOf(const QDateTime& time, LONGLONG extraTicks) {
    const LONGLONG ticks = (time.toMSecsSinceEpoch() + 11644473600000LL) * 10000 + extraTicks;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<ULONGLONG>(ticks) >> 32)};
}

QString windowsForm(const std::string& hostPath) {
    return QString::fromStdString(hostPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

class CXFileInfoTest : public testing::Test {
protected:
    // Sets all three times through the file functions, as another program on Windows would.
    void setTimes(const std::string& path, const FILETIME& created, const FILETIME& read, const FILETIME& written) {
        HANDLE file = CreateFileW(windowsForm(path).toStdWString().c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_TRUE(SetFileTime(file, &created, &read, &written));
        CloseHandle(file);
    }

    std::string dir_ = nimbrel::test::makeScratchDir("items");
};

TEST_F(CXFileInfoTest, FileAndFolderReportKindSizeAndExactTimes) {
    const std::string path = dir_ + "/report.txt";
    nimbrel::test::writeFile(path, std::string(5000, 'x'));
    const QDateTime created(QDate(2019, 1, 2), QTime(3, 4, 5, 6), QTimeZone::utc());
    const QDateTime read(QDate(2024, 7, 8), QTime(9, 10, 11, 120), QTimeZone::utc());
    const QDateTime written(QDate(2022, 12, 31), QTime(23, 59, 59, 999), QTimeZone::utc());
    // Sub-millisecond ticks must be dropped, never rounded up into the next millisecond.
    setTimes(path, fileTimeOf(created, 9999), fileTimeOf(read, 0), fileTimeOf(written, 5000));

    const CXFileInfo info(windowsForm(path));
    nimbrel::test::writeFile(path, "changed after the snapshot");
    EXPECT_TRUE(info.exists());
    EXPECT_TRUE(info.isFile());
    EXPECT_FALSE(info.isDir());
    EXPECT_FALSE(info.isSymLink());
    EXPECT_EQ(info.size(), 5000) << "the information is a snapshot";
    EXPECT_EQ(info.created().toMSecsSinceEpoch(), created.toMSecsSinceEpoch());
    EXPECT_EQ(info.lastRead().toMSecsSinceEpoch(), read.toMSecsSinceEpoch());
    EXPECT_EQ(info.lastModified().toMSecsSinceEpoch(), written.toMSecsSinceEpoch());

    const std::string folder = dir_ + "/folder";
    std::filesystem::create_directory(folder);
    setTimes(folder, fileTimeOf(read, 0), fileTimeOf(read, 0), fileTimeOf(read, 0));
    const CXFileInfo folderInfo(windowsForm(folder) + "\\");
    EXPECT_TRUE(folderInfo.isDir());
    EXPECT_FALSE(folderInfo.isFile());
    EXPECT_EQ(folderInfo.lastModified().toMSecsSinceEpoch(), read.toMSecsSinceEpoch());
}

TEST_F(CXFileInfoTest, LargeSizesUseBothHalvesOfTheSizeWordAndAMissingItemAnswersNothing) {
    const std::string path = dir_ + "/big.bin";
    nimbrel::test::writeFile(path, "");
    const auto size = std::uintmax_t{5} * 1024 * 1024 * 1024 + 17;
    std::filesystem::resize_file(path, size);  // sparse, so it costs no disk space
    EXPECT_EQ(CXFileInfo(QString::fromStdString(path)).size(), static_cast<qint64>(size));

    const CXFileInfo info(windowsForm(dir_ + "/absent\\child.txt"));
    EXPECT_FALSE(info.exists());
    EXPECT_FALSE(info.isFile());
    EXPECT_FALSE(info.isDir());
    EXPECT_EQ(info.size(), 0);
    EXPECT_FALSE(info.lastModified().isValid());
    EXPECT_FALSE(CXFileInfo(QString()).exists());
}

TEST_F(CXFileInfoTest, HiddenAndSymLinkComeFromWindowsAttributesNotFromNames) {
    const std::string hidden = dir_ + "/plain-name.txt";
    const std::string dotted = dir_ + "/.dotted";
    const std::string link = dir_ + "/link.txt";
    nimbrel::test::writeFile(hidden, "h");
    nimbrel::test::writeFile(dotted, "d");
    std::filesystem::create_symlink(hidden, link);
    ASSERT_TRUE(SetFileAttributesW(windowsForm(hidden).toStdWString().c_str(), FILE_ATTRIBUTE_HIDDEN));

    EXPECT_TRUE(CXFileInfo(windowsForm(hidden)).isHidden());
    EXPECT_FALSE(CXFileInfo(windowsForm(dotted)).isHidden());
    EXPECT_FALSE(CXFileInfo(windowsForm(hidden)).isSymLink());
    EXPECT_TRUE(CXFileInfo(windowsForm(link)).isSymLink());
    EXPECT_TRUE(CXFileInfo(windowsForm(link)).exists());
}

}  // namespace
