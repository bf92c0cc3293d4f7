#include "platform/win_resource.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win_error.h"
#include "platform/win_module.h"

namespace {
const unsigned char kCertificate[] = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
const unsigned char kNamed[] = {0x00, 0x01, 0xFF, 0x00, 0x7F};
}  // namespace

extern "C" {
extern const char nimbrel_resource_type_DATA;
extern const NimbrelResourceEntry nimbrel_resource_DATA_102;
extern const NimbrelResourceEntry nimbrel_resource_DATA_SETTINGS;
const char nimbrel_resource_type_DATA = 0;
const NimbrelResourceEntry nimbrel_resource_DATA_102 = {kCertificate, sizeof kCertificate - 1};
const NimbrelResourceEntry nimbrel_resource_DATA_SETTINGS = {kNamed, sizeof kNamed};
}

namespace {

std::string resourceBytes(LPCWSTR name, LPCWSTR type) {
    HRSRC resource = FindResourceW(nullptr, name, type);
    if (!resource) return "<not found>";
    const auto* data = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
    return std::string(data, SizeofResource(nullptr, resource));
}

TEST(WinResourceTest, IntegerAndNamedResourcesOfTheExecutableAreFound) {
    EXPECT_EQ(resourceBytes(MAKEINTRESOURCE(102), L"DATA"),
              "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    EXPECT_EQ(resourceBytes(L"SETTINGS", L"DATA"), std::string("\x00\x01\xFF\x00\x7F", 5));
}

TEST(WinResourceTest, MissingNamesTypesAndNullHandlesFailWithTheirOwnErrors) {
    SetLastError(0);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCE(103), L"DATA"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    SetLastError(0);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCE(102), RT_RCDATA), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

    SetLastError(0);
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

}  // namespace
