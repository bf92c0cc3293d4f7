#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/everyone_descriptor.h"
#include "platform/windows.h"
#include "win32_security.h"

namespace {

using nimbrel::test::win32::EveryoneDescriptor;

TEST(Win32Security, EveryoneAclHasTheWindowsLayout) {
    EveryoneDescriptor built;
    ASSERT_TRUE(built.ok) << GetLastError();
    EXPECT_EQ(GetLengthSid(built.everyone), 12u);  // S-1-1-0
    EXPECT_EQ(built.aclLength, 28u);               // exactly one entry fits
    const auto* bytes = reinterpret_cast<const BYTE*>(built.acl);
    const BYTE expected[28] = {2, 0, 28, 0, 1,    0,    0,    0,                  // ACL header
                               0, 0, 20, 0, 0x00, 0x00, 0x00, 0x10,               // ACE header, GENERIC_ALL
                               1, 1, 0,  0, 0,    0,    0,    1,    0, 0, 0, 0};  // the SID
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);
    EXPECT_EQ(built.descriptor.Revision, 1);
    EXPECT_EQ(built.descriptor.Control & SE_DACL_PRESENT, SE_DACL_PRESENT);
    EXPECT_EQ(built.descriptor.Dacl, built.acl);
    EXPECT_TRUE(nimbrel::platform::grantsEveryoneFullAccess(built.attributes()));

    // No room for a second entry.
    EXPECT_FALSE(AddAccessAllowedAce(built.acl, ACL_REVISION, GENERIC_READ, built.everyone));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
}

TEST(Win32Security, CallsRefuseWhatWindowsRefuses) {
    SECURITY_DESCRIPTOR descriptor{};
    EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    BYTE tooSmall[4] = {};
    EXPECT_FALSE(InitializeAcl(reinterpret_cast<PACL>(tooSmall), sizeof tooSmall, ACL_REVISION));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    BYTE garbage[32] = {};
    EXPECT_FALSE(AddAccessAllowedAce(reinterpret_cast<PACL>(garbage), ACL_REVISION, GENERIC_ALL, garbage));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ACL));

    // A DACL granting Everyone only read access is not full access.
    EveryoneDescriptor built;
    ASSERT_TRUE(built.ok);
    reinterpret_cast<ACCESS_ALLOWED_ACE*>(reinterpret_cast<BYTE*>(built.acl) + sizeof(ACL))->Mask = GENERIC_READ;
    EXPECT_FALSE(nimbrel::platform::grantsEveryoneFullAccess(built.attributes()));
    EXPECT_FALSE(nimbrel::platform::grantsEveryoneFullAccess(nullptr));
}

}  // namespace
