// The main client's runtime state, the liveness requests and the watch that ends the process
// when the client is gone.
#include <QString>
#include <thread>

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "ipc/client_reply.h"
#include "ipc/service_ipc_manager.h"
#include "platform/windows.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr DWORD kLivenessIntervalMs = 5000;

bool processRunning(const QString& imageName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        found = QString::fromWCharArray(entry.szExeFile).compare(imageName, Qt::CaseInsensitive) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

void CServiceIpcManager::startLivenessThread() {
    std::thread([this] {
        for (;;) {
            Sleep(kLivenessIntervalMs);
            if (queryClientOnline() != 0) checkClientrunning();
        }
    }).detach();
}

bool CServiceIpcManager::updateSyncRuntimeState(const rapidjson::Value& value, const char* source) {
    auto has = [&](const char* name, bool (rapidjson::Value::*isType)() const) {
        auto found = value.FindMember(name);
        return found != value.MemberEnd() && (found->value.*isType)();
    };
    const bool valid = value.IsObject() && has("loggedIn", &rapidjson::Value::IsBool) &&
                       has("contextMenuAllowed", &rapidjson::Value::IsBool) &&
                       has("status", &rapidjson::Value::IsInt) && has("reason", &rapidjson::Value::IsInt);
    if (!valid) {
        LOG_WARN << "invalid sync runtime state, source:" << source;
        return false;
    }
    loggedIn_ = value["loggedIn"].GetBool();
    contextMenuAllowed_ = value["contextMenuAllowed"].GetBool();
    status_ = value["status"].GetInt();
    reason_ = value["reason"].GetInt();
    serviceOnline_ = true;
    return true;
}

void CServiceIpcManager::resetSyncRuntimeState() {
    loggedIn_ = false;
    contextMenuAllowed_ = false;
    status_ = -1;
    reason_ = -1;
}

SyncRuntimeSnapshot CServiceIpcManager::getSyncRuntimeState() const {
    SyncRuntimeSnapshot snapshot;
    snapshot.serviceOnline = serviceOnline_;
    snapshot.loggedIn = loggedIn_;
    snapshot.contextMenuAllowed = contextMenuAllowed_;
    snapshot.status = status_;
    snapshot.reason = reason_;
    snapshot.mountedPaths = mountedPathsCopy();
    return snapshot;
}

int CServiceIpcManager::queryClientOnline() {
    std::wstring text;
    request(L"checkOnline\r\n", text);
    ClientReply reply;
    if (parseClientReply(text, reply) && reply.succeeded()) {
        if (!updateSyncRuntimeState(reply.var, "checkOnline")) resetSyncRuntimeState();
        serviceOnline_ = true;
        return 0;
    }
    serviceOnline_ = false;
    resetSyncRuntimeState();
    return -1;
}

int CServiceIpcManager::announceOnline() {
    std::wstring text;
    request(L"pushOnline\r\n", text);
    ClientReply reply;
    const bool online = parseClientReply(text, reply) && reply.succeeded();
    serviceOnline_ = online;
    return online ? 0 : -1;
}

void CServiceIpcManager::checkClientrunning() {
    if (processRunning(syncConfig()->clientAppName(false))) return;
    LOG_INFO << "duzodUruro not running ,mirror server will exit";
    CfApiWrapper::disconnectSyncRoot();
    CoUninitialize();
    TerminateProcess(GetCurrentProcess(), 0);
}
