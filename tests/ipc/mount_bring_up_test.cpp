// Bringing a folder up as a connected sync root: the check / register / connect ladder and its two
// recovery rounds (the end-to-end mount tests cover what a user sees of a fresh, a stale, a corrupt
// root and one held by another server).
#include <gtest/gtest.h>

#include "mount_fixture.h"

namespace nimbrel::test {
namespace {

using platform::faults::add;
using platform::faults::callCount;
using platform::faults::Rule;

constexpr HRESULT kAlreadyConnected = static_cast<HRESULT>(0x8007017A);
constexpr HRESULT kMetadataCorrupt = static_cast<HRESULT>(0x8007016B);

class MountBringUpTest : public MountTest {
protected:
    HRESULT mount(const std::string& path) {
        bool running = false;
        HRESULT hr = manager_->mount(path, running);
        EXPECT_FALSE(running);
        return hr;
    }
    std::string folder_ = makeScratchDir("root");
};

TEST_F(MountBringUpTest, AFreshFolderBecomesAConnectedRootOfThisServerAndAMountAgainRefreshesIt) {
    ASSERT_EQ(S_OK, mount(folder_));
    EXPECT_EQ(std::vector<std::wstring>{native(folder_)}, manager_->mountedPathsCopy());
    EXPECT_EQ(1, log_.count("CMountMirrorMgr::_mount  Sync root registered successfully: " +
                            QString::fromStdWString(native(folder_)).toStdString()));
    EXPECT_EQ(1, log_.count("CMountMirrorMgr::_mount  Mount mirror server leave,path ="));

    // Mounted again, the existing root is refreshed silently and listed once.
    const int registrations = callCount("CfRegisterSyncRoot");
    ASSERT_EQ(S_OK, mount(folder_));
    // The registration is renewed, but only the first bring-up reports it.
    EXPECT_EQ(registrations + 1, callCount("CfRegisterSyncRoot"));
    EXPECT_EQ(1, log_.count("Sync root registered successfully"));
    EXPECT_FALSE(log_.contains("connectSyncRoot failed"));
    EXPECT_TRUE(viewRoot(folder_).connected);
    EXPECT_EQ(std::vector<std::wstring>{native(folder_)}, manager_->mountedPathsCopy());
}

TEST_F(MountBringUpTest, AConnectionHeldElsewhereFailsTheMountAndLeavesNothingListed) {
    ASSERT_EQ(S_OK, mount(folder_));
    ASSERT_EQ(S_OK, CfApiWrapper::disconnectSyncRoot());
    // Another provider takes the root; this server's own disconnect cannot free it.
    const std::wstring wide = QString::fromStdString(folder_).toStdWString();
    CF_CALLBACK_REGISTRATION table[] = {CF_CALLBACK_REGISTRATION_END};
    CF_CONNECTION_KEY other{};
    ASSERT_EQ(S_OK, CfConnectSyncRoot(wide.c_str(), table, nullptr, CF_CONNECT_FLAG_NONE, &other));

    EXPECT_EQ(kAlreadyConnected, mount(folder_));
    // A failed bring-up leaves nothing listed.
    EXPECT_TRUE(manager_->mountedPathsCopy().empty());
    EXPECT_EQ(S_OK, CfDisconnectSyncRoot(other));
}

// A corrupt registration and a failed registration each end in the re-registration round.
TEST_F(MountBringUpTest, ACorruptOrFailedRegistrationIsRegisteredAgainAndThenConnects) {
    add(Rule{"CfConnectSyncRoot", folder_, 2, kMetadataCorrupt});
    EXPECT_EQ(S_OK, mount(folder_));
    EXPECT_EQ(1, callCount("CfUnregisterSyncRoot"));
    EXPECT_TRUE(log_.contains("CMountMirrorMgr::_mount  Mount mirror server leave,path ="));
    EXPECT_TRUE(viewRoot(folder_).connected);

    const std::string unregistered = makeScratchDir("unregistered");
    add(Rule{"CfRegisterSyncRoot", unregistered, 1, E_ACCESSDENIED});
    EXPECT_EQ(S_OK, mount(unregistered));
    EXPECT_TRUE(log_.contains("CMountMirrorMgr::_mount  registerSyncRoot failed, hr =0x80070005"));
    // Without a registration the first connects fail; the re-registration round brings it up.
    EXPECT_TRUE(log_.contains("Attempting full re-registration"));
    EXPECT_TRUE(viewRoot(unregistered).connected);
}

}  // namespace
}  // namespace nimbrel::test
