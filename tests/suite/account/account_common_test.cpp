#include "suite/account/account_common.h"

#include <gtest/gtest.h>

#include "platform/windows.h"
#include "suite/base/utility.h"

namespace {

const QString kClientKey = "Software\\Tellwick\\Orvane";

TEST(AccountCommon, VersionIsTheTextTheClientRecordedAndEmptyOtherwise) {
    EXPECT_TRUE(AccountCommon::getVersion().isEmpty());
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kClientKey, "syncPath", REG_SZ, "C:\\Sync", true));
    EXPECT_TRUE(AccountCommon::getVersion().isEmpty());
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kClientKey, "Version", REG_DWORD, 9, true));
    EXPECT_TRUE(AccountCommon::getVersion().isEmpty());
    ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, kClientKey, "Version", REG_SZ, "9.4.1.20261130", true));
    EXPECT_EQ(AccountCommon::getVersion(), "9.4.1.20261130");
}

}  // namespace
