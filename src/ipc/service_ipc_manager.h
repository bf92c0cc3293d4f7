#pragma once
// The service side of the IPC channel with the main client: loads the suite's IPC module, starts
// the channel, dispatches each incoming request through a fixed command table and answers with
// the reply envelope; sends Nimbrel's own requests to the client; watches that the client lives.
// One instance per process, created on first use and never destroyed.

#include <rapidjson/document.h>

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cfapi/hydration_source.h"
#include "ipc/client_file_info.h"
#include "ipc/mount_mirror_mgr.h"
#include "ipc/projection_shell_refresh.h"
#include "ipc/reply_envelope.h"
#include "ipc/sync_runtime_snapshot.h"
#include "platform/win_types.h"
#include "suite/ipcmodule/ipc_interface.h"

class CServiceIpcManager : public IRequestNotify, public CMountMirrorMgr, public HydrationSource {
public:
    static CServiceIpcManager& instance();

    // Start-up: starts the channel under the configuration record's names, waits (polling every
    // 100 ms, without limit) until it is ready, then announces the service to the client.
    void startIpcService();

    int OnRequest(const char* ipcName, const std::wstring& text) override;

    // Sends `text` to the client and waits for its reply; leaves `reply` empty when there is no
    // channel or no answer.
    int request(const std::wstring& text, std::wstring& reply);

    // The reply envelope of every handler.
    int onIpcGetResult(const std::string& code, const std::string& errorCode, const std::string& summary,
                       rapidjson::Document& document, std::wstring& out);
    int onIpcReturnSuccess(rapidjson::Document& document, std::wstring& out);
    int onIpcReturnFailure(const std::string& code, const std::string& errorCode, const std::string& summary,
                           std::wstring& out, rapidjson::Document& document);

    static std::string GenerateGUID();

    // Runtime state of the main client.
    bool updateSyncRuntimeState(const rapidjson::Value& value, const char* source);
    void resetSyncRuntimeState();
    SyncRuntimeSnapshot getSyncRuntimeState() const;
    int queryClientOnline();
    int announceOnline();
    // Ends the process (exit code 0) when the main client's process is gone.
    void checkClientrunning();

    // Where the projection sends its Explorer notifications; none until one is set.
    void setProjectionShellRefresh(ProjectionShellRefresh* shellRefresh) { shellRefresh_ = shellRefresh; }

    // One item of "pushFileSystem" (batch) or the body of "pushFileStatus" (status): projects it
    // and answers its result code; `outPath` gets the item path, `outUpdateLsid` the conversion's flag.
    int parserPushFile(const rapidjson::Value& record, QString& outPath, bool& outUpdateLsid);
    int parserPushFile(const std::wstring& bodyText, QString& outPath, bool& outUpdateLsid);

    // The pushFileAdd counters: requests past the first skip test, requests that reached the
    // Cloud Files step, requests answered as duplicates.
    std::uint64_t pushFileAddTotal() const { return pushFileAddTotal_; }
    std::uint64_t pushFileAddCfapi() const { return pushFileAddCfapi_; }
    std::uint64_t pushFileAddSkipped() const { return pushFileAddSkipped_; }

    // Downloads by URL: the main client names where a placeholder's content is, and the download
    // streams it into the pending fetch request of the task.
    int getDownloadMetadata(const std::string& taskId, const QString& localPath, bool* taskExists,
                            DownloadMetadata* metadata, QString* newLsid) override;
    int downloadByUrl(const std::string& taskId, const QString& localPath, const DownloadMetadata& metadata) override;

    // File-list requests of the context-menu actions; true when the client answered "S_OK".
    bool requestFilesInfo(const QStringList& paths, std::vector<ClientFileInfo>* infos);
    bool requestKeepDevice(const QStringList& paths);
    // Also forgets the paths' recent pushes, so that the client's next push of them is projected.
    bool requestReleaseSpace(const QStringList& paths);
    bool requestHistoryFile(const QStringList& sids);
    bool requestAddToZiduZudu(const QStringList& paths);

    // Hard-link repair notices; they block until the client has answered.
    void notifyHardLinkRepairStarted(const QString& filePath, const QString& tempPath);
    void notifyHardLinkRepairFinished(const QString& filePath, bool updateLsid);

private:
    using Handler = int (CServiceIpcManager::*)(const std::string& ipcName, const std::wstring& body,
                                                const std::wstring& request);

    CServiceIpcManager();
    ~CServiceIpcManager();
    CServiceIpcManager(const CServiceIpcManager&) = delete;
    CServiceIpcManager& operator=(const CServiceIpcManager&) = delete;

    void loadIpcModule();
    void fillCommandTable();
    void startLivenessThread();
    void sendReply(const std::string& ipcName, const std::wstring& text);
    bool sendFileList(const char* command, const QStringList& list, std::wstring* replyText = nullptr);
    // Parses a request body. One that is not JSON (or, with requireObject, not an object) is
    // printed and logged, and answered with errorCode "301" and `failureSummary` unless that is empty.
    bool parseRequestBody(const std::string& ipcName, const std::wstring& body, rapidjson::Document& parsed,
                          const std::string& failureSummary = {}, bool requireObject = false);

    // Handlers: (IPC name, body, whole request text) -> result.
    int newChannel(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int getMessage(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int getFileHistoryList(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcCheckOnline(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int cancelTasks(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcGetDiskinfo(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcZiduZuduReloadProxy(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcZiduZuduSendConfig(const std::string& ipcName, const std::wstring& body, const std::wstring& request);

    int onIpcDownloadUrl(const std::string& ipcName, const std::wstring& body, const std::wstring& request);

    // Mount commands.
    int onIpcMountMirror(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcUnmountMirror(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcDisconnectMirror(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcCloseZedoziZevoroExe(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    // Passes a body's "syncRuntimeState", when there is one, to updateSyncRuntimeState.
    void takeRuntimeState(const rapidjson::Document& body, const char* source);

    // Keep on device, update file, free up space and the sync-to-local pin state of a tree.
    int onIpcKeepOnDevice(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcUpdateFile(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcFreeUpSpace(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onSetSyncToLocalPinState(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    // Parses a body that must be a JSON object; anything else is logged under `handler` and
    // answered with errorCode "301" and `summary`.
    bool parseItemBody(const char* handler, const std::string& ipcName, const std::wstring& body,
                       rapidjson::Document& parsed, const char* summary);
    // Answers a parsed body whose members have the wrong types as one that does not parse; 301.
    int refuseItemBody(const char* handler, const std::string& ipcName, const std::wstring& body, const char* summary);
    // The "sourcePath", "destPath" and "id" of a keep or update request: 0 when they are usable,
    // otherwise the handler's result, the refusal already answered.
    int parseMoveRequest(const char* handler, const std::string& ipcName, const std::wstring& body, QString& source,
                         QString& destination, QString& id);

    // Projection commands.
    int onIpcpushFileSystem(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcpushFileAdd(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onIpcpushFileStatus(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    int onPushSyncState(const std::string& ipcName, const std::wstring& body, const std::wstring& request);
    enum class PushVariant { Batch, Status };
    int projectPushFile(const rapidjson::Value& value, PushVariant variant, QString& outPath, bool& outUpdateLsid);
    int pushFileAdd(const std::wstring& body, QString& outPath, bool& outUpdateLsid);
    // The per-item result reply; `updateLsidPaths` holds cleaned paths.
    void replyPushResults(const std::string& ipcName, const char* command, const std::map<std::string, int>& results,
                          const std::set<QString>& updateLsidPaths);
    void replyPushResults(const std::string& ipcName, const char* command, const QString& path, int result,
                          bool updateLsid);
    void reportMemory(const char* source, bool force);
    ProjectionShellRefresh* shell() const { return shellRefresh_; }

    int echoContent(const std::string& ipcName, const std::wstring& body);

    std::map<std::wstring, Handler> commands_;
    // Set once while constructing; atomic because the liveness thread already runs by then.
    std::atomic<IIpcInterface*> channel_{nullptr};
    HMODULE module_ = nullptr;
    ReplyEnvelope envelope_{"CServiceIpcManager"};
    std::mutex handlerMutex_;
    // Set by the first successful "mountMirror"; nothing clears it.
    std::atomic<bool> mounted_{false};

    std::atomic<bool> serviceOnline_{false};
    std::atomic<bool> loggedIn_{false};
    std::atomic<bool> contextMenuAllowed_{false};
    std::atomic<std::int32_t> status_{-1};
    std::atomic<std::int32_t> reason_{-1};

    std::atomic<ProjectionShellRefresh*> shellRefresh_{nullptr};
    std::atomic<std::uint64_t> pushFileAddTotal_{0};
    std::atomic<std::uint64_t> pushFileAddCfapi_{0};
    std::atomic<std::uint64_t> pushFileAddSkipped_{0};
    std::mutex memoryReportMutex_;
    ULONGLONG lastMemoryReportMs_ = 0;
    std::uint64_t lastMemoryReportTotal_ = 0;
};
