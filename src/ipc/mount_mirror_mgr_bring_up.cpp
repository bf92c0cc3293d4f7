// Sync-root bring-up: check, register, connect, and on a failed connect a disconnect-and-
// reconnect round, then a full unregister-and-re-register round.
#include <QString>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/hresult_text.h"
#include "ipc/mount_mirror_mgr.h"
#include "platform/cfapi.h"
#include "platform/windows.h"
#include "suite/logbridge/spdlog_bridge.h"

bool CMountMirrorMgr::isSyncRoot(const std::wstring& path) {
    // The basic information is the sync root's file id alone; a zero id means no root.
    CF_SYNC_ROOT_BASIC_INFO info{};
    DWORD returned = 0;
    const HRESULT hr = CfGetSyncRootInfoByPath(path.c_str(), CF_SYNC_ROOT_INFO_BASIC, &info, sizeof(info), &returned);
    return SUCCEEDED(hr) && info.SyncRootFileId.QuadPart != 0;
}

HRESULT CMountMirrorMgr::_mount(const std::shared_ptr<MountMirrorTask>& task) {
    // Left open on success; a failed mount is balanced by the handler on the same thread.
    CoInitialize(nullptr);
    const QString path = QString::fromUtf8(task->path().c_str()).replace('/', '\\');
    const std::wstring widePath = path.toStdWString();
    LOG_INFO << " Mount mirror server enter,path =" << path;
    mountedPaths_.add(widePath);

    const bool wasSyncRoot = isSyncRoot(widePath);
    // Registering an existing root refreshes its registration and shell integration.
    HRESULT hr = registerRoot(path);
    if (!wasSyncRoot) {
        if (hr == S_OK) {
            LOG_INFO << " Sync root registered successfully: " << path;
        } else {
            LOG_CRITICAL << " registerSyncRoot failed, hr =" << hresultText(hr);
        }
    }

    hr = CfApiWrapper::connectSyncRoot(path);
    if (hr != S_OK) {
        LOG_WARN << " connectSyncRoot failed, hr =" << hresultText(hr) << ", attempting recovery...";
        // A stale connection of this process may hold the root.
        if (CfApiWrapper::disconnectSyncRoot() == S_OK && CfApiWrapper::connectSyncRoot(path) == S_OK) {
            LOG_INFO << " connectSyncRoot succeeded after disconnect/reconnect";
            return S_OK;
        }
        LOG_WARN << " Attempting full re-registration...";
        CfApiWrapper::unregisterSyncRoot(path);
        const HRESULT registered = registerRoot(path);
        if (registered != S_OK) LOG_CRITICAL << " re-registerSyncRoot failed, hr =" << hresultText(registered);
        hr = CfApiWrapper::connectSyncRoot(path);
        if (hr != S_OK) LOG_CRITICAL << " connectSyncRoot failed after re-registration, hr =" << hresultText(hr);
    }
    LOG_INFO << " Mount mirror server leave,path =" << path;
    return hr;
}
