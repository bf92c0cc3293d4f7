#include "host/share_restricted_sd.h"

#include <gtest/gtest.h>

#include "win32_security.h"

namespace {

TEST(ShareRestrictedSDTest, DaclGrantsEveryoneEverythingInAListOfOneEntry) {
    CShareRestrictedSD restricted;
    SECURITY_ATTRIBUTES* attributes = restricted.securityAttributes();
    ASSERT_NE(attributes, nullptr);
    EXPECT_FALSE(attributes->bInheritHandle);
    EXPECT_TRUE(nimbrel::platform::grantsEveryoneFullAccess(attributes));
    // A missing DACL would grant everything as well; the section gets a list of exactly one entry.
    PACL dacl = static_cast<SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor)->Dacl;
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AceCount, 1);
    EXPECT_EQ(dacl->AclSize, 28);  // the header, the entry and S-1-1-0
}

}  // namespace
