#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/windows.h"

namespace {

const std::string kGbkName = "Calimbra\xCD\xAC\xB2\xBD\xC5\xCC";  // "Calimbra同步盘" in GBK
const std::wstring kWideName = L"Calimbra\u540C\u6B65\u76D8";

// The error a call left when it failed (a zero result), ERROR_SUCCESS otherwise.
long failure(BOOL ok) { return ok ? ERROR_SUCCESS : static_cast<long>(GetLastError()); }

TEST(Win32CodePages, GbkReadsAndUtf8FollowsTheLengthRules) {
    int needed = MultiByteToWideChar(CP_ACP, 0, kGbkName.c_str(), -1, nullptr, 0);
    ASSERT_EQ(needed, static_cast<int>(kWideName.size() + 1));  // -1 counts the NUL
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, kGbkName.c_str(), -1, wide.data(), needed), needed);
    EXPECT_EQ(wide.c_str(), kWideName);

    const std::string utf8 = "Calimbra\xE5\x90\x8C\xE6\xAD\xA5\xE7\x9B\x98";
    wchar_t small[4];
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, small, 4)), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), 0, small, 4)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0), 11);
    char out[32] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWideName.c_str(), -1, out, sizeof out, nullptr, nullptr),
              static_cast<int>(utf8.size() + 1));
    EXPECT_EQ(std::string(out), utf8);

    // Invalid input is replaced.
    const char broken[] =
        "a\xFF"
        "b";
    wchar_t replaced[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, broken, 3, replaced, 8), 3);
    EXPECT_EQ(replaced[1], static_cast<wchar_t>(0xFFFD));
}

TEST(Win32Com, ApartmentRulesPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    std::thread([] {
        // Another thread has no apartment yet and may choose the other model.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    // One initialisation is still open: the model is kept.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Balanced: the thread may now pick the other model.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST(Win32Com, GuidsAreRandomVersion4) {
    GUID a{}, b{};
    ASSERT_EQ(CoCreateGuid(&a), S_OK);
    ASSERT_EQ(CoCreateGuid(&b), S_OK);
    EXPECT_NE(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(a.Data3 >> 12, 4);
    EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);
}

}  // namespace
