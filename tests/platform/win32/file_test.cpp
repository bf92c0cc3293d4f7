#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "platform/fault_injection.h"
#include "platform/file_filter_hooks.h"
#include "platform/platform_paths.h"
#include "platform/win32_filetime.h"
#include "platform/windows.h"
#include "support/test_env.h"

namespace {

namespace p = nimbrel::platform;
namespace t = nimbrel::test;

// Paths as Nimbrel passes them: Windows form with the long-path prefix.
std::wstring win(const std::string& hostPath) { return L"\\\\?\\" + p::toWindowsPath(hostPath); }
// The error a call left when it failed (a false result or an invalid handle), ERROR_SUCCESS otherwise.
long failure(BOOL ok) { return ok ? ERROR_SUCCESS : static_cast<long>(GetLastError()); }
long failure(HANDLE h) { return failure(h != INVALID_HANDLE_VALUE && h != nullptr); }

class Win32Files : public testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_ = t::makeScratchDir("files");
};

TEST_F(Win32Files, FileTimesBefore1970KeepTheirNanosecondsInRange) {
    struct timespec early = p::timespecFromFileTime(116444736000000000LL - 5);
    EXPECT_EQ(early.tv_sec, -1);
    EXPECT_EQ(early.tv_nsec, 999999500);
    EXPECT_EQ(p::fileTimeFromTimespec(early), 116444736000000000LL - 5);
}

TEST_F(Win32Files, SetFileTimeReachesTheFileAndReadsBackExactly) {
    HANDLE file = CreateFileW(win(path("a.txt")).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME creation = p::toFileTime(116444736000000000LL + 1600000000LL * 10000000 + 1);
    FILETIME write = p::toFileTime(116444736000000000LL + 1650000000LL * 10000000 + 4321000);
    ASSERT_TRUE(SetFileTime(file, &creation, nullptr, &write));
    FILETIME gotCreation{}, gotWrite{};
    ASSERT_TRUE(GetFileTime(file, &gotCreation, nullptr, &gotWrite));
    EXPECT_EQ(p::fileTimeValue(gotCreation), p::fileTimeValue(creation));
    EXPECT_EQ(p::fileTimeValue(gotWrite), p::fileTimeValue(write));
    CloseHandle(file);
    struct stat st {};
    ASSERT_EQ(::stat(path("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1650000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 432100000);

    // A read-only handle may not change times.
    file = CreateFileW(win(path("a.txt")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(failure(SetFileTime(file, nullptr, nullptr, &write)), ERROR_ACCESS_DENIED);
    CloseHandle(file);
}

TEST_F(Win32Files, DispositionsAndTheirErrors) {
    std::wstring name = win(path("d.txt"));
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(failure(h), ERROR_FILE_NOT_FOUND);
    h = CreateFileW(win(path("missing/d.txt")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &written, nullptr));
    EXPECT_EQ(written, 11u);
    CloseHandle(h);

    EXPECT_EQ(failure(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)), ERROR_FILE_EXISTS);

    h = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 11);
    char buffer[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "hello world");
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);  // end of file is success with nothing read
    EXPECT_EQ(failure(WriteFile(h, "x", 1, &written, nullptr)), ERROR_ACCESS_DENIED);
    CloseHandle(h);

    h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(t::readFile(path("d.txt")), "");

    // A folder opens only with backup semantics.
    EXPECT_EQ(failure(CreateFileW(win(dir_).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
              ERROR_ACCESS_DENIED);
    h = CreateFileW(win(dir_).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILE_STANDARD_INFO standard{};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard));
    EXPECT_TRUE(standard.Directory);
    CloseHandle(h);
}

TEST_F(Win32Files, AttributeWords) {
    t::writeFile(path("f.txt"), "data");
    std::wstring name = win(path("f.txt"));
    EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(win(dir_).c_str()), FILE_ATTRIBUTE_DIRECTORY);

    ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    struct stat st {};
    ASSERT_EQ(::stat(path("f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    DWORD stored = 0;
    EXPECT_EQ(::getxattr(path("f.txt").c_str(), "user.nimbrel.dosattr", &stored, sizeof stored),
              static_cast<ssize_t>(sizeof stored));
    EXPECT_EQ(stored & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);

    // Windows refuses to overwrite or delete a read-only file, whoever asks.
    EXPECT_EQ(failure(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(failure(DeleteFileW(name.c_str())), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_NORMAL);
    // Nor a file that a handle without delete sharing holds.
    HANDLE held = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(failure(DeleteFileW(name.c_str())), ERROR_SHARING_VIOLATION);
    CloseHandle(held);
    EXPECT_TRUE(DeleteFileW(name.c_str()));
    EXPECT_EQ(failure(GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failure(GetFileAttributesW(win(path("no/such")).c_str()) != INVALID_FILE_ATTRIBUTES),
              ERROR_PATH_NOT_FOUND);

    // A symbolic link is a reparse point, as Windows shows one.
    ASSERT_EQ(::symlink(dir_.c_str(), path("to-folder").c_str()), 0);
    EXPECT_EQ(GetFileAttributesW(win(path("to-folder")).c_str()),
              FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);

    // A read-only folder is a marker only: it still takes new files.
    ASSERT_TRUE(SetFileAttributesW(win(dir_).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(win(dir_).c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileW(win(path("new.txt")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

p::PlaceholderAttributes dehydratedPlaceholder(const std::string& hostPath, int) {
    if (hostPath.find("cloud") == std::string::npos) return {};
    return {FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_OFFLINE |
                FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS | FILE_ATTRIBUTE_UNPINNED,
            FILE_ATTRIBUTE_ARCHIVE, 0x9000601Au};
}

TEST_F(Win32Files, PlaceholderBitsReachEveryAttributeQuery) {
    t::writeFile(path("cloud.txt"), "0123456789");
    t::writeFile(path("plain.txt"), "x");
    std::wstring name = win(path("cloud.txt"));
    ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
    p::setPlaceholderAttributeSource(&dehydratedPlaceholder);
    const DWORD expected = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SPARSE_FILE |
                           FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS | FILE_ATTRIBUTE_UNPINNED;

    EXPECT_EQ(GetFileAttributesW(name.c_str()), expected);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes, expected);
    EXPECT_EQ(data.nFileSizeLow, 10u);

    HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.dwFileAttributes, expected);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag));
    EXPECT_EQ(tag.FileAttributes, expected);
    EXPECT_EQ(tag.ReparseTag, 0x9000601Au);
    FILE_BASIC_INFO basic{};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic));
    EXPECT_EQ(basic.FileAttributes, expected);
    EXPECT_EQ(failure(GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic - 8)), ERROR_BAD_LENGTH);
    CloseHandle(h);

    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(win(path("*.txt")).c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::set<std::wstring> names;
    do {
        names.insert(found.cFileName);
        if (std::wstring(found.cFileName) == L"cloud.txt") {
            EXPECT_EQ(found.dwFileAttributes, expected);
            EXPECT_EQ(found.dwReserved0, 0x9000601Au);
        } else {
            EXPECT_EQ(found.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
            EXPECT_EQ(found.dwReserved0, 0u);
        }
    } while (FindNextFileW(find, &found));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(names, (std::set<std::wstring>{L"cloud.txt", L"plain.txt"}));
}

TEST_F(Win32Files, StandardInfoCountsLinksAndRealBlocks) {
    t::writeFile(path("sparse.bin"), "");
    ASSERT_EQ(::truncate(path("sparse.bin").c_str(), 1 << 20), 0);
    ASSERT_EQ(::link(path("sparse.bin").c_str(), path("link.bin").c_str()), 0);
    HANDLE h = CreateFileW(win(path("sparse.bin")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILE_STANDARD_INFO standard{};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard));
    EXPECT_EQ(standard.EndOfFile.QuadPart, 1 << 20);
    EXPECT_EQ(standard.AllocationSize.QuadPart, 0);  // nothing written, nothing allocated
    EXPECT_EQ(standard.NumberOfLinks, 2u);
    EXPECT_FALSE(standard.Directory);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    struct stat st {};
    ::stat(path("link.bin").c_str(), &st);
    EXPECT_EQ((static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, st.st_ino);
    EXPECT_EQ(info.nNumberOfLinks, 2u);
    CloseHandle(h);
}

TEST_F(Win32Files, MoveCopyAndFolders) {
    t::writeFile(path("src.txt"), "one");
    t::writeFile(path("dst.txt"), "two");
    EXPECT_EQ(failure(MoveFileExW(win(path("src.txt")).c_str(), win(path("dst.txt")).c_str(), 0)),
              ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(MoveFileExW(win(path("src.txt")).c_str(), win(path("dst.txt")).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(t::readFile(path("dst.txt")), "one");
    EXPECT_FALSE(std::filesystem::exists(path("src.txt")));
    EXPECT_EQ(failure(MoveFileExW(win(path("src.txt")).c_str(), win(path("x.txt")).c_str(), 0)), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(failure(CopyFileW(win(path("dst.txt")).c_str(), win(path("dst.txt")).c_str(), TRUE)), ERROR_FILE_EXISTS);
    ASSERT_TRUE(SetFileAttributesW(win(path("dst.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CopyFileW(win(path("dst.txt")).c_str(), win(path("copy.txt")).c_str(), TRUE));
    EXPECT_EQ(t::readFile(path("copy.txt")), "one");
    EXPECT_EQ(GetFileAttributesW(win(path("copy.txt")).c_str()), FILE_ATTRIBUTE_HIDDEN);

    ASSERT_TRUE(CreateDirectoryW(win(path("sub")).c_str(), nullptr));
    EXPECT_EQ(failure(CreateDirectoryW(win(path("sub")).c_str(), nullptr)), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(failure(CreateDirectoryW(win(path("none/sub")).c_str(), nullptr)), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(failure(DeleteFileW(win(path("sub")).c_str())), ERROR_ACCESS_DENIED);

    WIN32_FIND_DATAW found{};
    EXPECT_EQ(failure(FindFirstFileW(win(path("nothing*")).c_str(), &found)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failure(FindFirstFileW(win(path("gone/*")).c_str(), &found)), ERROR_PATH_NOT_FOUND);
    // "*" lists "." and ".." first, as Windows does for a folder that is not a root.
    HANDLE find = FindFirstFileW(win(path("*")).c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(found.cFileName, L".");
    ASSERT_TRUE(FindNextFileW(find, &found));
    EXPECT_STREQ(found.cFileName, L"..");
    FindClose(find);
}

TEST_F(Win32Files, TempFolderAndFreeSpace) {
    ::setenv("TMPDIR", dir_.c_str(), 1);
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    std::wstring expected = p::toWindowsPath(dir_) + L"\\";
    EXPECT_EQ(std::wstring(buffer, length), expected);
    EXPECT_EQ(GetTempPathW(2, buffer), expected.size() + 1);

    // Without TMPDIR the user's own folder, which nobody else may enter, never the shared /tmp.
    ::unsetenv("TMPDIR");
    length = GetTempPathW(MAX_PATH, buffer);
    const std::string own = p::runtimeDir() + "/temp";
    EXPECT_EQ(std::wstring(buffer, length), p::toWindowsPath(own) + L"\\");
    struct stat st {};
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(win(dir_).c_str(), &available, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(available.QuadPart, total.QuadPart);
    EXPECT_EQ(failure(GetDiskFreeSpaceExW(win(path("absent")).c_str(), &available, nullptr, nullptr)),
              ERROR_FILE_NOT_FOUND);
}

// What a copy-and-replace relies on besides its security and the delete sharing of its target.
TEST_F(Win32Files, AFullDiskFailsWritesAndCopiesAndReportsNoSpaceUntilTheRuleRunsOut) {
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
