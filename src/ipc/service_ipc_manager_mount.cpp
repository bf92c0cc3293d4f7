// The mount commands of the main client: mount, unmount, disconnect, and closing the server.
#include <rapidjson/document.h>

#include <mutex>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/hresult_text.h"
#include "ipc/service_ipc_manager.h"
#include "platform/windows.h"
#include "suite/base/utility.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

const char kParseFailedSummary[] = "CClientIpcManager::onIpcLogonAccount return failed";

std::string mountPathOf(const rapidjson::Document& body) {
    if (!body.IsObject()) return std::string();
    auto found = body.FindMember("mountPath");
    if (found == body.MemberEnd() || !found->value.IsString()) return std::string();
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

}  // namespace

void CServiceIpcManager::takeRuntimeState(const rapidjson::Document& body, const char* source) {
    if (!body.IsObject()) return;
    auto found = body.FindMember("syncRuntimeState");
    if (found != body.MemberEnd()) updateSyncRuntimeState(found->value, source);
}

int CServiceIpcManager::onIpcMountMirror(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, kParseFailedSummary)) return 301;
    const std::string path = mountPathOf(parsed);
    takeRuntimeState(parsed, "mountMirror");

    LOG_INFO << "onIpc  Mount mirror server enter,path =" << path;
    bool running = false;
    const HRESULT hr = mount(path, running);
    LOG_INFO << "onIpc  Mount mirror server leave,path =" << path << " hr:" << hresultText(hr)
             << " bRunning:" << running;

    rapidjson::Document document;
    std::wstring reply;
    if (hr == S_OK) {
        mounted_ = true;
        onIpcReturnSuccess(document, reply);
        sendReply(ipcName, reply);
        return 0;
    }
    LOG_INFO << "mount mirror server  err message =" << Utility::formatWinError(hr);
    CoUninitialize();
    onIpcReturnFailure("S_FAIL", hresultText(hr), "set root path err", reply, document);
    sendReply(ipcName, reply);
    return -1;
}

int CServiceIpcManager::onIpcUnmountMirror(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    LOG_INFO << " START - UnMount mirror server";
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, "JSON parse failed")) return 301;
    const std::string path = mountPathOf(parsed);
    takeRuntimeState(parsed, "unmountMirror");

    LOG_INFO << "onIpc  UnMount mirror server enter,path =" << path;
    QString errorText;
    bool running = false;
    const int result = asyncUnMount(path, errorText, running);
    LOG_INFO << "onIpc  UnMount mirror server leave,path =" << path << " hr:" << result << " errMsg:" << errorText
             << " bRunning:" << running;

    // The unmount goes on in the background; its failures are only logged.
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    LOG_INFO << " SUCCESS (operations continue in background)";
    return 0;
}

int CServiceIpcManager::onIpcDisconnectMirror(const std::string& ipcName, const std::wstring& body,
                                              const std::wstring&) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    LOG_INFO << "onIpc  disconnect mirror server ";
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, "CServiceIpcManager::onIpcDisconnectMirror return failed")) return 301;
    const HRESULT hr = CfApiWrapper::disconnectSyncRoot();
    if (hr != S_OK) {
        LOG_WARN << "onIpc  DisconnectSyncRoot failed message =" << Utility::formatWinError(hr);
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", hresultText(hr), "disconnect sync root path err", reply, document);
        sendReply(ipcName, reply);
        return 0;
    }
    // The client takes an empty answer as success.
    sendReply(ipcName, std::wstring());
    return 0;
}

int CServiceIpcManager::onIpcCloseZedoziZevoroExe(const std::string& ipcName, const std::wstring& body,
                                                  const std::wstring&) {
    LOG_INFO << "onIpc  close mirror server exe";
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, kParseFailedSummary)) return 301;
    // The client is answered first: the process ends below without another word.
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);

    const QString path = QString::fromStdString(mountPathOf(parsed));
    if (CfApiWrapper::disconnectSyncRoot() == S_OK) {
        CfApiWrapper::unregisterSyncRoot(path);
        LOG_INFO << "onIpc  close mirror server exe,unmount mirror server success";
    } else {
        LOG_INFO << "onIpc  close mirror server exe,unmount mirror server failed";
    }
    CoUninitialize();
    SpdlogBridge::getInstance().flush();
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
