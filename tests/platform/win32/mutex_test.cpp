// A second server's process finding the name is the end-to-end start-up tests' check.
#include <gtest/gtest.h>

#include "platform/windows.h"

namespace {

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

}  // namespace
