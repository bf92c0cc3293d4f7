// The one live sync-root connection and its callback table.
#include <QDir>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

CF_CONNECTION_KEY CfApiWrapper::s_gConnectionKey{0};
QString CfApiWrapper::connectedRootPath;
QString CfApiWrapper::registeredRootPath;
QString CfApiWrapper::registeredRootFolder;
std::recursive_mutex CfApiWrapper::connectionMutex;
std::mutex CfApiWrapper::registeredRootMutex;

CfApiWrapper::~CfApiWrapper() = default;

namespace {

// Registered so that the filter delivers these notifications and gets an immediate return.
void CALLBACK ignoreCallback(const CF_CALLBACK_INFO*, const CF_CALLBACK_PARAMETERS*) {}

const CF_CALLBACK_REGISTRATION* callbackTable() {
    static const CF_CALLBACK_REGISTRATION table[] = {
        {CF_CALLBACK_TYPE_FETCH_DATA, CfApiWrapper::OnFetchData1},
        {CF_CALLBACK_TYPE_CANCEL_FETCH_DATA, CfApiWrapper::OnCancelFetchData1},
        {CF_CALLBACK_TYPE_VALIDATE_DATA, ignoreCallback},
        // Population is always full: the main client pushes the tree, nothing is fetched on demand.
        {CF_CALLBACK_TYPE_FETCH_PLACEHOLDERS, ignoreCallback},
        {CF_CALLBACK_TYPE_CANCEL_FETCH_PLACEHOLDERS, ignoreCallback},
        {CF_CALLBACK_TYPE_NOTIFY_FILE_OPEN_COMPLETION, CfApiWrapper::OnNotifyFileOpenCompletion1},
        {CF_CALLBACK_TYPE_NOTIFY_FILE_CLOSE_COMPLETION, ignoreCallback},
        {CF_CALLBACK_TYPE_NOTIFY_DEHYDRATE_COMPLETION, ignoreCallback},
        {CF_CALLBACK_TYPE_NOTIFY_DELETE_COMPLETION, ignoreCallback},
        {CF_CALLBACK_TYPE_NOTIFY_RENAME_COMPLETION, ignoreCallback},
        CF_CALLBACK_REGISTRATION_END,
    };
    return table;
}

}  // namespace

CF_CONNECTION_KEY CfApiWrapper::connectionKey() {
    std::lock_guard<std::recursive_mutex> lock(connectionMutex);
    return s_gConnectionKey;
}

QString CfApiWrapper::connectedRoot() {
    std::lock_guard<std::recursive_mutex> lock(connectionMutex);
    return connectedRootPath;
}

HRESULT CfApiWrapper::connectSyncRoot(const QString& path) {
    std::lock_guard<std::recursive_mutex> lock(connectionMutex);
    if (s_gConnectionKey.Internal != 0) disconnectSyncRoot();
    HRESULT hr = CfConnectSyncRoot(wide(path).c_str(), callbackTable(), nullptr,
                                   CF_CONNECT_FLAG_REQUIRE_PROCESS_INFO | CF_CONNECT_FLAG_REQUIRE_FULL_FILE_PATH |
                                       CF_CONNECT_FLAG_BLOCK_SELF_IMPLICIT_HYDRATION,
                                   &s_gConnectionKey);
    LOG_INFO << "connectSyncRoot s_gConnectionKey:" << static_cast<long long>(s_gConnectionKey.Internal)
             << " path:" << path << ", result:" << hex(hr);
    connectedRootPath = SUCCEEDED(hr) ? path : QString();
    return hr;
}

HRESULT CfApiWrapper::disconnectSyncRoot() {
    std::lock_guard<std::recursive_mutex> lock(connectionMutex);
    if (s_gConnectionKey.Internal == 0) {
        LOG_WARN << "disconnectSyncRoot path had done";
        return S_OK;
    }
    HRESULT hr = CfDisconnectSyncRoot(s_gConnectionKey);
    LOG_WARN << "disconnectSyncRoot path:" << static_cast<long long>(s_gConnectionKey.Internal)
             << " result:" << hex(hr);
    // A failed disconnect keeps the key, so the next attempt retries the same connection.
    if (SUCCEEDED(hr)) {
        s_gConnectionKey.Internal = 0;
        connectedRootPath.clear();
    }
    return hr;
}

HRESULT CfApiWrapper::disconnectSyncRoot(const QString& path) {
    std::lock_guard<std::recursive_mutex> lock(connectionMutex);
    if (s_gConnectionKey.Internal != 0 && !connectedRootPath.isEmpty()) {
        QString expected = QDir::cleanPath(normalizeRootPath(path));
        QString current = QDir::cleanPath(normalizeRootPath(connectedRootPath));
        if (expected.compare(current, Qt::CaseInsensitive) != 0) {
            LOG_INFO << "skip stale root disconnect, expected:" << path << " current:" << connectedRootPath;
            return S_OK;
        }
    }
    return disconnectSyncRoot();
}
