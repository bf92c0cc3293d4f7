#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/win32/child_role.h"
#include "platform/windows.h"

namespace {

namespace t = nimbrel::test;
namespace role = nimbrel::test::win32;

// The error a call left when it failed (a false result or an invalid handle), ERROR_SUCCESS otherwise.
long failure(BOOL ok) { return ok ? ERROR_SUCCESS : static_cast<long>(GetLastError()); }
long failure(HANDLE h) { return failure(h != INVALID_HANDLE_VALUE && h != nullptr); }

constexpr const char* kName = "_SocketApi_tcp_sync_";

std::string readSection(HANDLE section) {
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    if (!view) return "<no view>";
    std::string text(static_cast<const char*>(view), strnlen(static_cast<const char*>(view), 1000));
    UnmapViewOfFile(view);
    return text;
}

TEST(Win32Mapping, CreatedSectionIsZeroFilledAndSecondCreateFindsIt) {
    HANDLE first = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1000, kName);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    auto* view = static_cast<char*>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::count(view, view + 1000, 0), 1000);
    std::strcpy(view, "{\"port\":4711}");
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_EQ(failure(UnmapViewOfFile(view)), ERROR_INVALID_ADDRESS);

    // The existing section, with its own size, even when asked for another.
    HANDLE second = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kName);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(readSection(second), "{\"port\":4711}");
    EXPECT_EQ(failure(MapViewOfFile(second, FILE_MAP_READ, 0, 0, 1001)), ERROR_ACCESS_DENIED);
    CloseHandle(first);
    CloseHandle(second);

    EXPECT_EQ(failure(OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, kName)), ERROR_FILE_NOT_FOUND);
}

TEST(Win32Mapping, ReadOnlyHandleCannotMapForWritingAndAViewKeepsTheSectionAfterItsHandleCloses) {
    HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1000, "view-test");
    ASSERT_NE(created, nullptr);
    HANDLE reader = OpenFileMappingA(FILE_MAP_READ, FALSE, "view-test");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(failure(MapViewOfFile(reader, FILE_MAP_WRITE, 0, 0, 0)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(failure(MapViewOfFile(created, FILE_MAP_READ, 0, 1, 0)), ERROR_MAPPED_ALIGNMENT);
    CloseHandle(reader);
    void* view = MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    CloseHandle(created);
    HANDLE again = OpenFileMappingA(FILE_MAP_READ, FALSE, "view-test");
    EXPECT_NE(again, nullptr);
    CloseHandle(again);
    UnmapViewOfFile(view);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "view-test"), nullptr);
}

TEST(Win32Mapping, SectionOfAnotherProcessLivesAsLongAsThatProcess) {
    auto holder = role::startRole("HoldSection");
    ASSERT_TRUE(t::waitUntil([&] { return holder->out().find("holding") != std::string::npos; })) << holder->err();
    HANDLE opened = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, kName);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(readSection(opened), "{\"port\":6001}");
    CloseHandle(opened);

    holder->signal(SIGKILL);  // dies without closing anything
    holder->wait();
    EXPECT_EQ(failure(OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, kName)), ERROR_FILE_NOT_FOUND);
    // A fresh creation starts from zeros, not from the dead process's text.
    HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1000, kName);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(readSection(fresh), "");
    CloseHandle(fresh);
}

}  // namespace
