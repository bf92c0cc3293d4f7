// The registry watch of the navigation-pane folder (ShellFolderUtils::monitorShellFolder).
#include "host/sync_virtual_config.h"
#include "platform/windows.h"
#include "shell/shell_folder_utils.h"
#include "shell/shell_registry_state.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr ULONGLONG kRepeatWarningMs = 30000;
constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;

// Until the main client has written its key: one attempt a second, with a warning for each new
// error code and otherwise one every 30 s.
HKEY openProductKeyWhenPresent(const std::wstring& productKey) {
    HKEY key = nullptr;
    int failedAttempts = 0;
    bool warned = false;
    LONG warnedError = ERROR_SUCCESS;
    ULONGLONG warnedAt = 0;
    for (;;) {
        const LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, productKey.c_str(), 0, KEY_QUERY_VALUE | KEY_NOTIFY, &key);
        if (rc == ERROR_SUCCESS) break;
        ++failedAttempts;
        const ULONGLONG now = GetTickCount64();
        if (!warned || rc != warnedError || now - warnedAt >= kRepeatWarningMs) {
            LOG_WARN << "[monitorShellFolder]->Failed to RegOpenKeyEx HKEY_CURRENT_USER " << productKey
                     << ", error = " << rc << ", failedAttempts = " << failedAttempts;
            warned = true;
            warnedError = rc;
            warnedAt = now;
        }
        Sleep(1000);
    }
    if (failedAttempts > 0) {
        LOG_INFO << "[monitorShellFolder] registry monitor recovered, failedAttempts = " << failedAttempts;
    }
    return key;
}

}  // namespace

void ShellFolderUtils::monitorShellFolder() {
    const std::wstring productKey = syncConfig()->registryRoot();
    HKEY key = openProductKeyWhenPresent(productKey);

    ShellRegistryState cache = readShellRegistryState();
    LOG_INFO << "[monitorShellFolder]->Registry cache initialized. currentUser=" << cache.currentUser
             << ", syncPath=" << cache.syncPath << ", bLogin=" << cache.bLogin << ", bOpenSync=" << cache.bOpenSync;

    HANDLE changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!changed) {
        LOG_ERROR << "[monitorShellFolder]->Failed to create event: " << GetLastError();
        RegCloseKey(key);
        return;
    }
    for (;;) {
        // A deleted product key cannot be watched again through this handle (ERROR_KEY_DELETED):
        // the watching ends there, after the deletion itself has been handled as a change.
        const LONG rc = RegNotifyChangeKeyValue(key, TRUE, kWatchedChanges, changed, TRUE);
        if (rc != ERROR_SUCCESS) {
            LOG_ERROR << "[monitorShellFolder]->Failed to register notification, error=" << rc;
            break;
        }
        if (WaitForSingleObject(changed, INFINITE) == WAIT_FAILED) {
            LOG_ERROR << "[monitorShellFolder]->Failed to WaitForSingleObject,error=" << GetLastError();
            break;
        }
        RegFlushKey(key);
        const ShellRegistryState fresh = readShellRegistryState();
        if (fresh != cache) {
            LOG_INFO << "[monitorShellFolder]->Registry values changed, refreshing. currentUser=" << fresh.currentUser
                     << ", syncPath=" << fresh.syncPath << ", bLogin=" << fresh.bLogin
                     << ", bOpenSync=" << fresh.bOpenSync;
            cache = fresh;
            checkAndSwitchShellFoler();
        }
        ResetEvent(changed);
    }
    CloseHandle(changed);
    RegCloseKey(key);
}
