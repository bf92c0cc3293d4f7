// The order of mount and unmount tasks: unmounts on the pool, a slow CfUnregisterSyncRoot and waits
// between tasks of one path (the end-to-end mount tests cover a mount that waits for a slow
// unregistration and the root left mounted, with its shell integration, beside an unmount).
#include <gtest/gtest.h>

#include <future>

#include "ipc/sync_root_unregister_registry.h"
#include "mount_fixture.h"

namespace nimbrel::test {
namespace {

using platform::faults::add;
using platform::faults::callCount;
using platform::faults::Rule;

// Longer than the unmount's own wait for CfUnregisterSyncRoot.
constexpr std::chrono::milliseconds kSlowUnregister{4000};

class MountTasksTest : public MountTest {
protected:
    HRESULT mount(const std::string& path) {
        bool running = false;
        return manager_->mount(path, running);
    }
    bool unmount(const std::string& path) {
        QString errorText;
        bool running = false;
        EXPECT_EQ(0, manager_->asyncUnMount(path, errorText, running));
        return running;
    }
    int ended(const std::string& path) { return log_.count(" Task fully cleaned up, path:" + path + " bMount:false"); }
    bool waitUnmounted(const std::string& path, int count = 1) {
        return waitUntil([&] { return ended(path) >= count; });
    }
    // The index of the first log line holding `fragment`; the line count when none does.
    std::size_t lineOf(const std::string& fragment) {
        const auto lines = log_.lines();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].text.find(fragment) != std::string::npos) return i;
        }
        return lines.size();
    }
    std::string folder_ = makeScratchDir("root");
};

TEST_F(MountTasksTest, AnUnmountRunsOnThePoolAndTakesTheRootDown) {
    ASSERT_EQ(S_OK, mount(folder_));
    EXPECT_FALSE(unmount(folder_));
    ASSERT_TRUE(waitUnmounted(folder_));
    EXPECT_FALSE(viewRoot(folder_).registered);
    EXPECT_TRUE(shellIntegrationRoot().isEmpty());
    EXPECT_FALSE(Utility::registryKeyExists(HKEY_CURRENT_USER,
                                            "Software\\Classes\\CLSID\\" + syncConfig()->shellFolderClsid(), true));
    EXPECT_TRUE(manager_->mountedPathsCopy().empty());
    EXPECT_TRUE(log_.contains("CMountMirrorMgr::runUnMountJob  UnMount mirror server enqueque, mountPath:" + folder_));
    EXPECT_TRUE(log_.contains("CMountMirrorMgr::_unMount  Step4 unregisterShellExt:"));
    EXPECT_TRUE(log_.contains("ms skippedForActiveRoot:false"));
    for (const char* step : {" Step1 disconnectSyncRoot:", " Step2 CfUnregisterSyncRoot completed:",
                             " Step3 deleteRegistry:", " UnMount mirror server TOTAL (sync operations):"}) {
        EXPECT_TRUE(log_.contains(step)) << step;
    }
}

TEST_F(MountTasksTest, ASecondUnmountMeanwhileStartsNothing) {
    ASSERT_EQ(S_OK, mount(folder_));
    add(Rule{"CfUnregisterSyncRoot", "", 0, S_OK, kSlowUnregister});
    EXPECT_FALSE(unmount(folder_));
    // The first task holds the path while it waits for CfUnregisterSyncRoot.
    EXPECT_TRUE(unmount(folder_));
    EXPECT_TRUE(log_.contains(" Same unMount task already running, mountPath:" + folder_));

    // Once that task has ended, the unregistration still runs: a new unmount stops at once.
    ASSERT_TRUE(waitUnmounted(folder_));
    EXPECT_FALSE(unmount(folder_));
    ASSERT_TRUE(waitUnmounted(folder_, 2));
    EXPECT_TRUE(log_.contains(" CfUnregisterSyncRoot already running, skip duplicate unmount, path:"));
    ASSERT_TRUE(waitForLog("CfUnregisterSyncRoot succeeded in background"));
    EXPECT_EQ(1, callCount("CfUnregisterSyncRoot"));
    EXPECT_EQ(1, log_.count(" Step1 disconnectSyncRoot:"));
    EXPECT_FALSE(viewRoot(folder_).registered);
}

TEST_F(MountTasksTest, AnUnmountWaitsForTheMountOfItsPath) {
    // The bring-up's connect is slowed down, so the unmount arrives while the mount runs.
    add(Rule{"CfConnectSyncRoot", folder_, 1, S_OK, std::chrono::milliseconds(1500)});
    auto mounted = std::async(std::launch::async, [&] { return mount(folder_); });
    ASSERT_TRUE(waitForLog("CMountMirrorMgr::_mount  Mount mirror server enter"));
    EXPECT_FALSE(unmount(folder_));
    EXPECT_EQ(S_OK, mounted.get());
    ASSERT_TRUE(waitUnmounted(folder_));

    EXPECT_TRUE(log_.contains(" Waiting for mount to complete before unMount, mountPath:" + folder_));
    EXPECT_TRUE(log_.contains(" UnMount mirror server enqueque (after mount wait), mountPath:" + folder_));
    // The first task to leave the map is the mount's.
    EXPECT_LT(lineOf(" Removing task from map, path:"), lineOf("CMountMirrorMgr::_unMount  START"));
    EXPECT_FALSE(viewRoot(folder_).registered);
}

TEST_F(MountTasksTest, FailedUnmountStepsAreRecordedAndReleaseTheRoot) {
    ASSERT_EQ(S_OK, mount(folder_));
    add(Rule{"CfDisconnectSyncRoot", "", 1, E_ACCESSDENIED});
    unmount(folder_);
    ASSERT_TRUE(waitUnmounted(folder_));
    EXPECT_TRUE(log_.contains(" disconnectSyncRoot failed after"));
    EXPECT_TRUE(log_.contains("ms:0x80070005"));
    // Still mounted, still listed, and not protected: a mount goes straight ahead.
    EXPECT_TRUE(viewRoot(folder_).connected);
    EXPECT_EQ(std::vector<std::wstring>{native(folder_)}, manager_->mountedPathsCopy());
    EXPECT_EQ(S_OK, mount(folder_));
    EXPECT_FALSE(log_.contains("wait same sync root unregister before mount"));

    add(Rule{"CfUnregisterSyncRoot", "", 1, E_ACCESSDENIED});
    unmount(folder_);
    ASSERT_TRUE(waitUnmounted(folder_, 2));
    EXPECT_TRUE(log_.contains("CMountMirrorMgr::_unMount  CfUnregisterSyncRoot failed:0x80070005"));
    // The registry clean-up did not run.
    EXPECT_FALSE(log_.contains(" Step3 deleteRegistry:"));
    EXPECT_EQ(QString::fromStdWString(native(folder_)), shellIntegrationRoot());
    const std::wstring key = SyncRootUnregisterRegistry::rootKey(QString::fromStdString(folder_));
    EXPECT_TRUE(waitUntil([&] { return !SyncRootUnregisterRegistry::instance().isPending(key); }));
}

TEST_F(MountTasksTest, TheManagerWaitsForARunningUnmountBeforeItGoes) {
    ASSERT_EQ(S_OK, mount(folder_));
    add(Rule{"CfUnregisterSyncRoot", "", 0, S_OK, kSlowUnregister});
    unmount(folder_);
    // The unmount holds its path for its whole wait on CfUnregisterSyncRoot.
    manager_.reset();
    EXPECT_TRUE(log_.contains("CMountMirrorMgr::~CMountMirrorMgr  Waiting for 1 tasks to complete... (1)"));
    EXPECT_EQ(1, ended(folder_));
    EXPECT_TRUE(log_.contains(" All tasks completed"));
    EXPECT_TRUE(log_.contains(" Thread pool destroyed"));
    EXPECT_FALSE(log_.contains(" Timeout waiting for tasks, forcing shutdown"));
}

TEST(MountTaskWaitTest, AFiniteWaitRunsOutAndAWakeReleasesEveryWaiter) {
    LogCapture log;
    MountMirrorTask task("/data/a", false);
    EXPECT_FALSE(task.waitTask(10));
    EXPECT_TRUE(log.contains(" TIMEOUT waiting for task completion, path:/data/a"));
    auto first = std::async(std::launch::async, [&] { return task.waitTask(-1); });
    auto second = std::async(std::launch::async, [&] { return task.waitTask(-1); });
    task.setHr(E_FAIL);
    task.setDone();
    task.wakeTask();
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_EQ(2, log.count(" Task completed successfully, path:/data/a hr:0x80004005"));
}

TEST(SyncRootKeyTest, KeysIgnoreSeparatorStyleAndTrailingSeparatorsButKeepDriveRoots) {
    using Registry = SyncRootUnregisterRegistry;
    EXPECT_EQ(L"C:\\Sync\\Disk", Registry::rootKey("C:/Sync//Disk/"));
    EXPECT_EQ(Registry::rootKey("C:\\Sync\\Disk\\"), Registry::rootKey("C:/Sync/./Disk"));
    EXPECT_EQ(L"C:\\", Registry::rootKey("C:\\"));
    EXPECT_EQ(L"\\home\\ann\\Sync", Registry::rootKey("/home/ann/Sync/"));
}

}  // namespace
}  // namespace nimbrel::test
