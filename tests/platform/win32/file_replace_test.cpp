// What a copy-and-replace of a file relies on besides its security (which the hard-link repair tests
// check): a handle without delete sharing blocks the replace from any process, and a full disk shows
// in writes and in the free space.
#include <gtest/gtest.h>

#include <string>

#include "platform/fault_injection.h"
#include "platform/platform_paths.h"
#include "platform/win32/child_role.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace {

namespace p = nimbrel::platform;
namespace t = nimbrel::test;
namespace role = nimbrel::test::win32;

std::wstring win(const std::string& hostPath) { return L"\\\\?\\" + p::toWindowsPath(hostPath); }

class Win32FileReplace : public testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_ = t::makeScratchDir("replace");
};

TEST_F(Win32FileReplace, AnotherProcessHoldingTheFileWithoutDeleteSharingBlocksReplaceAndDeleteUntilItCloses) {
    t::writeFile(path("target"), "old");
    t::writeFile(path("copy"), "new");
    // A handle that shares delete is no obstacle.
    HANDLE sharing = CreateFileW(win(path("target")).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_TRUE(MoveFileExW(win(path("target")).c_str(), win(path("moved")).c_str(), 0));
    ASSERT_TRUE(MoveFileExW(win(path("moved")).c_str(), win(path("target")).c_str(), 0));
    CloseHandle(sharing);
    auto holder = role::startRole("HoldFile", {{"ROLE_FILE", path("target")}});
    ASSERT_TRUE(t::waitUntil([&] { return holder->out().find("holding") != std::string::npos; })) << holder->err();
    EXPECT_FALSE(MoveFileExW(win(path("copy")).c_str(), win(path("target")).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(win(path("target")).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    role::release(*holder);
    holder->wait();
    EXPECT_TRUE(MoveFileExW(win(path("copy")).c_str(), win(path("target")).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(t::readFile(path("target")), "new");
}

TEST_F(Win32FileReplace, AFullDiskFailsWritesAndCopiesAndReportsNoSpaceUntilTheRuleRunsOut) {
    t::writeFile(path("source"), "data");
    p::faults::add({"DiskFull", "", 3, HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL)});
    ULARGE_INTEGER available{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(win(dir_).c_str(), &available, nullptr, nullptr));
    EXPECT_EQ(available.QuadPart, 0u);
    EXPECT_FALSE(CopyFileW(win(path("source")).c_str(), win(path("copy")).c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_DISK_FULL));
    HANDLE file = CreateFileW(win(path("new")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_DISK_FULL));
    // Space returns.
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
    CloseHandle(file);
    ASSERT_TRUE(GetDiskFreeSpaceExW(win(dir_).c_str(), &available, nullptr, nullptr));
    EXPECT_GT(available.QuadPart, 0u);
}

}  // namespace
