// "uninstall": the server unregisters every sync root the suite recorded for the user and returns.
#include <gtest/gtest.h>

#include <QString>
#include <string>
#include <vector>

#include "e2e_processes.h"
#include "platform/cfapi.h"
#include "suite/base/utility.h"
#include "support/test_env.h"

namespace {

class UninstallTest : public testing::Test {
protected:
    void SetUp() override { app_ = nimbrel::test::makeAppFolder(); }

    // A registered sync root in a fresh folder, recorded as the main client records it.
    std::wstring registeredRoot(const std::string& name) {
        std::wstring path =
            QString::fromStdString(nimbrel::test::makeScratchDir(name)).replace('/', '\\').toStdWString();
        CF_SYNC_REGISTRATION registration{};
        registration.StructSize = sizeof(registration);
        registration.ProviderName = L"Test";
        registration.ProviderVersion = L"1.0";
        CF_SYNC_POLICIES policies{};
        policies.StructSize = sizeof(policies);
        policies.Hydration.Primary = CF_HYDRATION_POLICY_FULL;
        policies.Population.Primary = CF_POPULATION_POLICY_ALWAYS_FULL;
        EXPECT_EQ(CfRegisterSyncRoot(path.c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE), S_OK);
        return path;
    }

    void record(const QString& productKey, const QString& account, const std::wstring& syncPath) {
        ASSERT_TRUE(Utility::registrySetKeyValue(HKEY_CURRENT_USER, productKey + "\\" + account, "syncPath", REG_SZ,
                                                 QString::fromStdWString(syncPath), true));
    }

    static bool isRegistered(const std::wstring& path) {
        std::vector<BYTE> buffer(4096);
        DWORD returned = 0;
        return SUCCEEDED(CfGetSyncRootInfoByPath(path.c_str(), CF_SYNC_ROOT_INFO_BASIC, buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), &returned));
    }

    std::string app_;
};

}  // namespace

TEST_F(UninstallTest, EveryRecordedSyncRootIsUnregisteredAndOthersAreLeftAlone) {
    std::wstring unrecorded = registeredRoot("unrecorded");
    // Nothing recorded yet: the command still succeeds at once.
    auto nothing = nimbrel::test::runCommand(app_ + "/RoziDavidoVodido", {"uninstall"});
    EXPECT_EQ(nothing.exitCode, 0) << nothing.err;
    EXPECT_TRUE(isRegistered(unrecorded));

    const QString product = "SOFTWARE\\Tellwick\\Orvane";
    std::wstring first = registeredRoot("first");
    std::wstring second = registeredRoot("second");
    std::wstring elsewhere = registeredRoot("elsewhere");
    record(product, "13800000001", first);
    record(product, "13800000002", second);
    ASSERT_TRUE(
        Utility::registrySetKeyValue(HKEY_CURRENT_USER, product + "\\13800000003", "bLogin", REG_SZ, "1", true));
    record("SOFTWARE\\Tellwick\\Orvane-Mount", "13800000001", elsewhere);

    auto result = nimbrel::test::runCommand(app_ + "/RoziDavidoVodido", {"uninstall"});
    EXPECT_EQ(result.exitCode, 0) << result.err;

    EXPECT_FALSE(isRegistered(first));
    EXPECT_FALSE(isRegistered(second));
    EXPECT_TRUE(isRegistered(elsewhere));
    EXPECT_TRUE(isRegistered(unrecorded));
    // Only the registrations go; what the main client recorded stays.
    EXPECT_TRUE(Utility::registryKeyExists(HKEY_CURRENT_USER, product + "\\13800000001", true));
}
