// Registration, connection and sync-root information, with the error codes Windows documents.

#include <gtest/gtest.h>

#include <vector>

#include "cf_test_support.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

void CALLBACK ignoreFetch(const CF_CALLBACK_INFO*, const CF_CALLBACK_PARAMETERS*) {}

const CF_CALLBACK_REGISTRATION kTable[] = {{CF_CALLBACK_TYPE_FETCH_DATA, ignoreFetch}, CF_CALLBACK_REGISTRATION_END};

TEST(CloudFilesSyncRoot, RegistrationIsValidatedAndRootsMayNotOverlap) {
    const std::string root = makeScratchDir("root");
    CF_SYNC_REGISTRATION registration{};
    registration.StructSize = sizeof(registration);
    registration.ProviderName = L"P";
    registration.ProviderVersion = L"1";
    CF_SYNC_POLICIES policies{};
    policies.StructSize = sizeof(policies);
    policies.Hydration.Primary = CF_HYDRATION_POLICY_FULL;
    policies.Population.Primary = CF_POPULATION_POLICY_ALWAYS_FULL;

    std::wstring longName(256, L'n');
    registration.ProviderName = longName.c_str();
    EXPECT_EQ(CfRegisterSyncRoot(wide(root).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE), E_INVALIDARG);
    registration.ProviderName = L"P";
    std::vector<char> identity(4097, 'x');
    registration.FileIdentity = identity.data();
    registration.FileIdentityLength = 4097;
    EXPECT_EQ(CfRegisterSyncRoot(wide(root).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE), E_INVALIDARG);
    registration.FileIdentityLength = 4096;

    EXPECT_EQ(CfRegisterSyncRoot(wide(root).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE), S_OK);
    // Registering again needs the update flag.
    EXPECT_TRUE(FAILED(CfRegisterSyncRoot(wide(root).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE)));
    EXPECT_EQ(CfRegisterSyncRoot(wide(root).c_str(), &registration, &policies, CF_REGISTER_FLAG_UPDATE), S_OK);

    const std::string inner = root + "/inner";
    ASSERT_EQ(::mkdir(inner.c_str(), 0777), 0);
    EXPECT_EQ(CfRegisterSyncRoot(wide(inner).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE),
              static_cast<HRESULT>(0x8007017C));
    EXPECT_EQ(CfRegisterSyncRoot(wide(root + "/missing").c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE),
              static_cast<HRESULT>(0x80070002));

    // A sibling whose name only starts like the root's is a root of its own.
    const std::string sibling = makeScratchDir("rootb");
    writeFile(sibling + "/f.txt", "x");
    registration.ProviderName = L"Q";
    EXPECT_EQ(CfRegisterSyncRoot(wide(sibling).c_str(), &registration, &policies, CF_REGISTER_FLAG_NONE), S_OK);
    CF_SYNC_ROOT_PROVIDER_INFO provider{};
    DWORD returned = 0;
    ASSERT_EQ(CfGetSyncRootInfoByPath(wide(sibling + "/f.txt").c_str(), CF_SYNC_ROOT_INFO_PROVIDER, &provider,
                                      sizeof(provider), &returned),
              S_OK);
    EXPECT_EQ(std::wstring(provider.ProviderName), L"Q");
}

TEST(CloudFilesSyncRoot, UnregisterIsRefusedWhileConnectedAndTheStatusFollowsTheConnection) {
    const std::string root = registeredRoot("root");
    CF_CONNECTION_KEY first{};
    ASSERT_EQ(CfConnectSyncRoot(wide(root).c_str(), kTable, nullptr, CF_CONNECT_FLAG_NONE, &first), S_OK);
    EXPECT_EQ(CfUnregisterSyncRoot(wide(root).c_str()), static_cast<HRESULT>(0x8007017C));

    CF_SYNC_ROOT_PROVIDER_INFO provider{};
    DWORD returned = 0;
    ASSERT_EQ(
        CfGetSyncRootInfoByPath(wide(root).c_str(), CF_SYNC_ROOT_INFO_PROVIDER, &provider, sizeof(provider), &returned),
        S_OK);
    EXPECT_EQ(provider.ProviderStatus, CF_PROVIDER_STATUS_IDLE);
    EXPECT_EQ(std::wstring(provider.ProviderName), L"TestProvider");

    EXPECT_EQ(CfDisconnectSyncRoot(first), S_OK);
    EXPECT_EQ(CfDisconnectSyncRoot(first), E_INVALIDARG);
    ASSERT_EQ(
        CfGetSyncRootInfoByPath(wide(root).c_str(), CF_SYNC_ROOT_INFO_PROVIDER, &provider, sizeof(provider), &returned),
        S_OK);
    EXPECT_EQ(provider.ProviderStatus, CF_PROVIDER_STATUS_DISCONNECTED);
}

TEST(CloudFilesSyncRoot, ConnectAndUnregisterNeedARegisteredRoot) {
    const std::string folder = makeScratchDir("plain");
    CF_CONNECTION_KEY key{};
    EXPECT_EQ(CfConnectSyncRoot(wide(folder).c_str(), kTable, nullptr, CF_CONNECT_FLAG_NONE, &key),
              static_cast<HRESULT>(0x80070186));
    EXPECT_EQ(CfUnregisterSyncRoot(wide(folder).c_str()), static_cast<HRESULT>(0x80070186));
    DWORD returned = 0;
    CF_SYNC_ROOT_BASIC_INFO basic{};
    EXPECT_EQ(CfGetSyncRootInfoByPath(wide(folder).c_str(), CF_SYNC_ROOT_INFO_BASIC, &basic, sizeof(basic), &returned),
              static_cast<HRESULT>(0x80070186));
}

// The root folder itself is a hydrated placeholder while registered.
TEST(CloudFilesSyncRoot, UnregisterKeepsHydratedContentAndDeletesWhatOnlyTheCloudHas) {
    const std::string root = registeredRoot("root");
    EXPECT_EQ(placeholderInfo(root).hr, S_OK);
    EXPECT_EQ(attributesOf(root) & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_OFFLINE),
              FILE_ATTRIBUTE_REPARSE_POINT);
    ASSERT_EQ(localPlaceholder(root + "/local.txt", "local content"), S_OK);
    ASSERT_EQ(createPlaceholder(root, "cloud.txt", 100, identityOf(u"cloud")), S_OK);
    ASSERT_EQ(createPlaceholder(root, "folder", 0, identityOf(u"dir"), CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC, true),
              S_OK);
    writeFile(root + "/ordinary.txt", "plain");

    ASSERT_EQ(CfUnregisterSyncRoot(wide(root).c_str()), S_OK);
    EXPECT_EQ(readFile(root + "/local.txt"), "local content");
    EXPECT_EQ(placeholderInfo(root + "/local.txt").hr, static_cast<HRESULT>(0x80070178));
    EXPECT_FALSE(attributesOf(root + "/local.txt") & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(attributesOf(root + "/cloud.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributesOf(root + "/folder") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(readFile(root + "/ordinary.txt"), "plain");
    // A new registration of the same folder starts from nothing.
    ASSERT_EQ(registerRoot(root), S_OK);
    EXPECT_EQ(placeholderInfo(root + "/local.txt").hr, static_cast<HRESULT>(0x80070178));
}

}  // namespace
}  // namespace nimbrel::test::cf
