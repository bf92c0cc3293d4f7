#include "host/share_restricted_sd.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ShareRestrictedSDTest, DaclGrantsEveryoneEverything) {
    CShareRestrictedSD restricted;
    SECURITY_ATTRIBUTES* attributes = restricted.securityAttributes();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(attributes->bInheritHandle);

    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->Revision, SECURITY_DESCRIPTOR_REVISION);
    EXPECT_TRUE(descriptor->Control & SE_DACL_PRESENT);
    EXPECT_FALSE(descriptor->Control & SE_DACL_DEFAULTED);

    PACL dacl = descriptor->Dacl;
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
    ASSERT_EQ(dacl->AceCount, 1);

    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(dacl + 1);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    const DWORD sidLength = GetLengthSid(everyone);
    EXPECT_EQ(std::memcmp(&ace->SidStart, everyone, sidLength), 0);
    // The list holds its header, the one entry and nothing else.
    EXPECT_EQ(dacl->AclSize, sidLength + 16);
    EXPECT_EQ(ace->Header.AceSize, sidLength + 8);
    FreeSid(everyone);
}

}  // namespace
