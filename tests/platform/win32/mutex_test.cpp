#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

TEST(Win32Mutex, OwnershipIsRecursivePerThreadAndExcludesOtherThreads) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));  // recursion
    std::atomic<DWORD> otherResult{WAIT_FAILED};
    std::thread([&] { otherResult = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(otherResult.load(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread([&] { otherResult = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(otherResult.load(), static_cast<DWORD>(WAIT_TIMEOUT));  // still held once
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    std::thread([&] {
        otherResult = WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
    }).join();
    EXPECT_EQ(otherResult.load(), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(mutex);
}

TEST(Win32Mutex, OwnershipAcrossProcessesAndAbandonment) {
    auto owner = role::startRole("OwnMutex");
    ASSERT_TRUE(t::waitUntil([&] { return owner->out().find("owner") != std::string::npos; })) << owner->err();
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"owned");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    owner->signal(SIGKILL);
    owner->wait();
    // The owner died holding it: the next owner learns that it was abandoned.
    EXPECT_EQ(WaitForSingleObject(mutex, 20000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

}  // namespace
