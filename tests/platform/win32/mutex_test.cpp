#include <gtest/gtest.h>

#include <csignal>

#include "platform/win32/child_role.h"
#include "platform/windows.h"

namespace {

namespace t = nimbrel::test;
namespace role = nimbrel::test::win32;

TEST(Win32Mutex, NameIsHeldUntilTheLastHandleOfTheProcessCloses) {
    HANDLE a = CreateMutexW(nullptr, FALSE, L"local-name");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE b = CreateMutexW(nullptr, FALSE, L"local-name");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(a, b);
    CloseHandle(a);
    HANDLE c = CreateMutexW(nullptr, FALSE, L"local-name");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(b);
    CloseHandle(c);
    HANDLE d = CreateMutexW(nullptr, FALSE, L"local-name");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(d);
    EXPECT_FALSE(CloseHandle(d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Win32Mutex, ANameHeldByAnotherProcessExistsUntilThatProcessEnds) {
    auto holder = role::startRole("HoldMutex");
    ASSERT_TRUE(t::waitUntil([&] { return holder->out().find("holding") != std::string::npos; })) << holder->err();
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"held");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(mutex);
    holder->signal(SIGKILL);
    holder->wait();
    mutex = CreateMutexW(nullptr, FALSE, L"held");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(mutex);
}

}  // namespace
