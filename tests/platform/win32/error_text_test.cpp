#include <gtest/gtest.h>

#include <string>

#include "platform/windows.h"

namespace {

std::wstring systemText(DWORD code) {
    wchar_t buffer[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, 512, nullptr);
    return std::wstring(buffer, length);
}

TEST(Win32ErrorText, Win32CodesTheirHresultsAndCloudFilesCodesGiveTheSystemText) {
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified.\r\n"},
        {ERROR_ALREADY_EXISTS, L"Cannot create a file when that file already exists.\r\n"},
        {static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), L"Access is denied.\r\n"},
        {static_cast<DWORD>(E_INVALIDARG), L"The parameter is incorrect.\r\n"},
        {static_cast<DWORD>(E_FAIL), L"Unspecified error\r\n"},
        {0x8007016Au, L"The cloud file provider is not running.\r\n"},
        {0x80070178u, L"The file is not a cloud file.\r\n"},
        {0x8007017Au, L"The cloud sync root is already connected with another cloud sync provider.\r\n"},
        {0x8007018Cu, L"The cloud operation cannot be performed on a file with incompatible hardlinks.\r\n"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(systemText(code), text) << std::hex << code;
}

TEST(Win32ErrorText, UnknownCodeFailsWithMessageNotFound) {
    wchar_t buffer[64] = {};
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0x8004FFFEu, 0,
                             buffer, 64, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    // A facility-less code above the Win32 range is not a Win32 code either.
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x00070002u, 0, buffer, 64, nullptr), 0u);
}

TEST(Win32ErrorText, SmallBufferAndInsertsWithoutArguments) {
    wchar_t buffer[8] = {};
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 8, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    wchar_t big[256] = {};
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_MR_MID_NOT_FOUND, 0, big, 256, nullptr), 0u);
    EXPECT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_MR_MID_NOT_FOUND, 0, big, 256, nullptr),
              0u);
    EXPECT_NE(std::wstring(big).find(L"%1"), std::wstring::npos);
}

}  // namespace
