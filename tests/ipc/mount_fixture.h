#pragma once
// A mount manager of its own per test, with the sync-disk configuration record, and the views of
// a sync root that a user of Explorer (or the registry editor) would have.

#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <string>

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "ipc/mount_mirror_mgr.h"
#include "platform/cfapi.h"
#include "platform/fault_injection.h"
#include "suite/base/utility.h"
#include "suite/logbridge/log_capture.h"
#include "support/test_env.h"

namespace nimbrel::test {

struct RootView {
    bool registered = false;
    bool connected = false;
};

inline RootView viewRoot(const std::string& path) {
    RootView view;
    CF_SYNC_ROOT_PROVIDER_INFO info{};
    DWORD returned = 0;
    const std::wstring wide = QString::fromStdString(path).toStdWString();
    if (FAILED(CfGetSyncRootInfoByPath(wide.c_str(), CF_SYNC_ROOT_INFO_PROVIDER, &info, sizeof(info), &returned))) {
        return view;
    }
    view.registered = true;
    view.connected = info.ProviderStatus != CF_PROVIDER_STATUS_DISCONNECTED;
    return view;
}

// The root path Explorer's shell integration points at, or empty when there is none.
inline QString shellIntegrationRoot() {
    const QString key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager\\" +
                        syncConfig()->syncRootId() + "\\UserSyncRoots";
    return Utility::registryGetKeyValue(HKEY_LOCAL_MACHINE, key, CfApiWrapper::getWindowsSid(), true).toString();
}

inline std::wstring native(const std::string& path) {
    return QString::fromStdString(path).replace('/', '\\').toStdWString();
}

class MountTest : public testing::Test {
protected:
    void SetUp() override { createSyncConfig(1); }

    // Polls the log for `count` lines containing `fragment`; the manager's pool threads and
    // background unregistrations report their progress only there.
    bool waitForLog(const std::string& fragment, int count = 1) {
        return waitUntil([&] { return log_.count(fragment) >= count; });
    }

    LogCapture log_;
    std::unique_ptr<CMountMirrorMgr> manager_ = std::make_unique<CMountMirrorMgr>();
};

}  // namespace nimbrel::test
