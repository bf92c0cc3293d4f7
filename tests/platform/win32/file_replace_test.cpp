// What a copy-and-replace of a file relies on: its security travels with GetFileSecurityW and
// SetFileSecurityW, a handle without delete sharing blocks the replace from any process, and a full
// disk shows in writes and in the free space.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

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

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string getfacl(const std::string& path) {
    return t::runCommand("/usr/bin/getfacl", {"--omit-header", "--absolute-names", path}).out;
}

class Win32FileReplace : public testing::Test {
protected:
    void SetUp() override { dir_ = t::makeScratchDir("replace"); }
    void TearDown() override { p::faults::clear(); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST_F(Win32FileReplace, OwnerModeAndAclTravelWithTheDescriptorButNeverTheSacl) {
    writeFile(path("a"), "a");
    writeFile(path("b"), "b");
    ASSERT_EQ(0, ::chmod(path("a").c_str(), 0640));
    ASSERT_EQ(0, t::runCommand("/usr/bin/setfacl", {"-m", "u:4321:rw,g:4322:r", path("a")}).exitCode);
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chown(path("a").c_str(), 4321, 4322));
    }

    DWORD needed = 0;
    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    EXPECT_FALSE(GetFileSecurityW(win(path("a")).c_str(), parts, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> descriptor(needed);
    ASSERT_TRUE(GetFileSecurityW(win(path("a")).c_str(), parts, descriptor.data(), needed, &needed));
    ASSERT_TRUE(SetFileSecurityW(win(path("b")).c_str(), parts, descriptor.data()));

    struct stat a {};
    struct stat b {};
    ::stat(path("a").c_str(), &a);
    ::stat(path("b").c_str(), &b);
    EXPECT_EQ(a.st_mode, b.st_mode);
    EXPECT_EQ(a.st_uid, b.st_uid);
    EXPECT_EQ(a.st_gid, b.st_gid);
    std::string acl = getfacl(path("a"));
    EXPECT_NE(acl.find("user:4321:rw-"), std::string::npos) << acl;
    EXPECT_EQ(getfacl(path("b")), acl);

    EXPECT_FALSE(GetFileSecurityW(win(path("a")).c_str(), parts | SACL_SECURITY_INFORMATION, descriptor.data(), needed,
                                  &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
}

TEST_F(Win32FileReplace, AHandleWithoutDeleteSharingBlocksReplaceRenameAndDelete) {
    struct Case {
        DWORD share;
        bool blocked;
    };
    for (Case c : {Case{FILE_SHARE_READ | FILE_SHARE_WRITE, true}, Case{0, true},
                   Case{FILE_SHARE_READ | FILE_SHARE_DELETE, false}}) {
        SCOPED_TRACE(c.share);
        writeFile(path("target"), "old");
        writeFile(path("copy"), "new");
        HANDLE held = CreateFileW(win(path("target")).c_str(), GENERIC_READ, c.share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        BOOL replaced = MoveFileExW(win(path("copy")).c_str(), win(path("target")).c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        EXPECT_EQ(replaced, !c.blocked);
        if (c.blocked) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            EXPECT_FALSE(MoveFileExW(win(path("target")).c_str(), win(path("moved")).c_str(), 0));
            EXPECT_FALSE(DeleteFileW(win(path("target")).c_str()));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        CloseHandle(held);
        // Closing the handle lifts the refusal.
        EXPECT_TRUE(MoveFileExW(win(path("copy")).c_str(), win(path("target")).c_str(), MOVEFILE_REPLACE_EXISTING) ||
                    !c.blocked);
        EXPECT_EQ(t::readFile(path("target")), "new");
    }
}

TEST_F(Win32FileReplace, AnotherProcessHoldingTheFileBlocksTheReplaceUntilItCloses) {
    writeFile(path("target"), "old");
    writeFile(path("copy"), "new");
    auto holder = role::startRole("HoldFile", {{"ROLE_FILE", path("target")}});
    ASSERT_TRUE(t::waitUntil([&] { return holder->out().find("holding") != std::string::npos; })) << holder->err();
    EXPECT_FALSE(MoveFileExW(win(path("copy")).c_str(), win(path("target")).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    role::release(*holder);
    holder->wait();
    EXPECT_TRUE(MoveFileExW(win(path("copy")).c_str(), win(path("target")).c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(t::readFile(path("target")), "new");
}

TEST_F(Win32FileReplace, AFullDiskFailsWritesAndCopiesAndReportsNoSpaceUntilTheRuleRunsOut) {
    writeFile(path("source"), "data");
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
