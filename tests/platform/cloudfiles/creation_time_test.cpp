// The creation time a provider gives a placeholder is the one every file query reports, as a
// Windows program reads it back.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cf_test_support.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

constexpr LONGLONG kCreated = 131000000000000000LL;
constexpr LONGLONG kWritten = 132000000000000000LL;  // what createPlaceholder gives
constexpr LONGLONG kRecreated = 130500000000000000LL;

LONGLONG ticks(const FILETIME& time) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// The creation time as GetFileAttributesExW, FileBasicInfo and FindFirstFileW report it; 0 where a query failed.
std::vector<LONGLONG> reportedCreation(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool attributes = GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data);
    Handle handle(path);
    FILE_BASIC_INFO basic{};
    const bool basicInfo =
        handle.valid() && GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof(basic));
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(wide(path).c_str(), &found);
    const bool listed = search != INVALID_HANDLE_VALUE;
    if (listed) FindClose(search);
    return {attributes ? ticks(data.ftCreationTime) : 0, basicInfo ? basic.CreationTime.QuadPart : 0,
            listed ? ticks(found.ftCreationTime) : 0};
}

void expectCreation(const std::string& path, LONGLONG expected) {
    EXPECT_EQ(reportedCreation(path), std::vector<LONGLONG>(3, expected)) << path;
}

HRESULT createWithTimes(const std::string& dir, const std::string& name, bool directory, LONGLONG created) {
    return createPlaceholder(dir, name, directory ? 0 : 5000, identityOf(u"id"),
                             CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC, directory, created);
}

using CloudFilesCreationTime = RegisteredRootTest;

TEST_F(CloudFilesCreationTime, CreationAndUpdateSetTheReportedTimeAndAnUpdateWithoutOneKeepsIt) {
    ASSERT_EQ(createWithTimes(root, "file.bin", false, kCreated), S_OK);
    ASSERT_EQ(createWithTimes(root, "folder", true, kCreated), S_OK);
    expectCreation(root + "/file.bin", kCreated);
    expectCreation(root + "/folder", kCreated);
    // Keeping the time takes no data blocks: the file is still entirely in the cloud, and what the
    // placeholder carries on the file fits in its inode.
    EXPECT_EQ(allocatedBytes(root + "/file.bin"), 0);
    struct stat file {};
    ASSERT_EQ(::stat((root + "/file.bin").c_str(), &file), 0);
    EXPECT_EQ(file.st_blocks, 0);

    CF_FS_METADATA metadata{};
    metadata.FileSize.QuadPart = 5000;
    metadata.BasicInfo.CreationTime.QuadPart = kRecreated;
    ASSERT_EQ(updateMetadata(root + "/file.bin", metadata), S_OK);
    expectCreation(root + "/file.bin", kRecreated);

    metadata.BasicInfo.CreationTime.QuadPart = 0;
    metadata.BasicInfo.LastWriteTime.QuadPart = kWritten + 1;
    ASSERT_EQ(updateMetadata(root + "/file.bin", metadata), S_OK);
    expectCreation(root + "/file.bin", kRecreated);
}

TEST_F(CloudFilesCreationTime, ConversionKeepsTheFilesOwnCreationTime) {
    writeFile(root + "/stamped.txt", "s");
    {
        Handle stamped(root + "/stamped.txt", FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
        FILETIME created{static_cast<DWORD>(kCreated & 0xffffffff), static_cast<DWORD>(kCreated >> 32)};
        ASSERT_TRUE(SetFileTime(stamped.get(), &created, nullptr, nullptr));
        ASSERT_EQ(CfConvertToPlaceholder(stamped.get(), "s", 1, CF_CONVERT_FLAG_MARK_IN_SYNC, nullptr, nullptr), S_OK);
    }
    expectCreation(root + "/stamped.txt", kCreated);

    writeFile(root + "/plain.txt", "p");
    const LONGLONG before = reportedCreation(root + "/plain.txt")[0];
    ASSERT_NE(before, 0);
    {
        Handle plain(root + "/plain.txt");
        ASSERT_EQ(CfConvertToPlaceholder(plain.get(), "p", 1, CF_CONVERT_FLAG_MARK_IN_SYNC, nullptr, nullptr), S_OK);
    }
    expectCreation(root + "/plain.txt", before);
}

}  // namespace
}  // namespace nimbrel::test::cf
