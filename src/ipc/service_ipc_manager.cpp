#include "ipc/service_ipc_manager.h"

#include "cfapi/cf_api_wrapper.h"
#include "host/sync_virtual_config.h"
#include "platform/windows.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr DWORD kReadyPollMs = 100;

}  // namespace

CServiceIpcManager& CServiceIpcManager::instance() {
    static CServiceIpcManager* manager = new CServiceIpcManager;
    return *manager;
}

CServiceIpcManager::CServiceIpcManager() {
    startLivenessThread();
    loadIpcModule();
    fillCommandTable();
    // The repair worker lives below the IPC layer; it reaches the client through these.
    CfApiWrapper::setHardLinkRepairNotices(
        {[](const QString& path, const QString& tempPath) { instance().notifyHardLinkRepairStarted(path, tempPath); },
         [](const QString& path, bool updateLsid) { instance().notifyHardLinkRepairFinished(path, updateLsid); }});
    CfApiWrapper::setHydrationSource(this);
}

CServiceIpcManager::~CServiceIpcManager() {
    if (module_) FreeLibrary(module_);
}

void CServiceIpcManager::loadIpcModule() {
    const std::wstring path = (applicationDirectory() + QStringLiteral("ipcmodule.dll")).toStdWString();
    module_ = LoadLibraryW(path.c_str());
    if (!module_) {
        LOG_ERROR << "load ipc module failed, path:" << path << ", error:" << GetLastError();
        return;
    }
    // FARPROC is a generic function pointer; the export's real type comes from the module's header.
    auto create =
        reinterpret_cast<CreateIpcInterfaceFn>(reinterpret_cast<void*>(GetProcAddress(module_, "CreateIpcInterface")));
    if (!create) {
        LOG_ERROR << "CreateIpcInterface not found in " << path;
        return;
    }
    IIpcInterface* channel = nullptr;
    create(&channel, this);
    channel_ = channel;
}

void CServiceIpcManager::fillCommandTable() {
    commands_ = {
        {L"newChannel", &CServiceIpcManager::newChannel},
        {L"getMessage", &CServiceIpcManager::getMessage},
        {L"getDiskinfo", &CServiceIpcManager::onIpcGetDiskinfo},
        {L"checkOnline", &CServiceIpcManager::onIpcCheckOnline},
        {L"pushFileSystem", &CServiceIpcManager::onIpcpushFileSystem},
        {L"pushFileStatus", &CServiceIpcManager::onIpcpushFileStatus},
        {L"updateSyncState", &CServiceIpcManager::onPushSyncState},
        {L"setSyncToLocalPinState", &CServiceIpcManager::onSetSyncToLocalPinState},
        {L"pushKeepOnDevice", &CServiceIpcManager::onIpcKeepOnDevice},
        {L"pushFreeUpSpace", &CServiceIpcManager::onIpcFreeUpSpace},
        {L"pushUpdateFile", &CServiceIpcManager::onIpcUpdateFile},
        {L"pushFileAdd", &CServiceIpcManager::onIpcpushFileAdd},
        {L"getFileHistoryList", &CServiceIpcManager::getFileHistoryList},
        {L"cancelTasks", &CServiceIpcManager::cancelTasks},
        {L"downloadUrl", &CServiceIpcManager::onIpcDownloadUrl},
        {L"ziduZuduReloadProxy", &CServiceIpcManager::onIpcZiduZuduReloadProxy},
        {L"ziduZuduSendConfig", &CServiceIpcManager::onIpcZiduZuduSendConfig},
        {L"mountMirror", &CServiceIpcManager::onIpcMountMirror},
        {L"unmountMirror", &CServiceIpcManager::onIpcUnmountMirror},
        {L"disconnectMirror", &CServiceIpcManager::onIpcDisconnectMirror},
        {L"closeZedoziZevoroExe", &CServiceIpcManager::onIpcCloseZedoziZevoroExe},
    };
}

void CServiceIpcManager::startIpcService() {
    CSyncVirtualConfig* config = syncConfig();
    IIpcInterface* channel = channel_;
    if (channel) {
        const std::string receive = config->pluginServiceChannel().toStdString();
        const std::string send = config->servicePluginChannel().toStdString();
        channel->start(receive.c_str(), send.c_str());
    }
    // Without a channel this never ends: the server cannot serve anyone, so it waits.
    while (!channel || !channel->isReady()) Sleep(kReadyPollMs);
    LOG_INFO << "ipc channel ready";
    const int online = queryClientOnline();
    LOG_INFO << "checkOnline answered, result:" << online;
    if (online == 0) LOG_INFO << "pushOnline answered, result:" << announceOnline();
}

int CServiceIpcManager::request(const std::wstring& text, std::wstring& reply) {
    reply.clear();
    IIpcInterface* channel = channel_;
    if (!channel) return -1;
    return channel->request(text, reply);
}

void CServiceIpcManager::sendReply(const std::string& ipcName, const std::wstring& text) {
    if (IIpcInterface* channel = channel_) channel->reply(ipcName.c_str(), text);
}
