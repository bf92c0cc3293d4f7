// "pushFileAdd": one item with its local sync state, behind the duplicate guard, and the memory
// report that rides along with it.
#include "cfapi/cf_api_wrapper.h"
#include "ipc/ipc_text.h"
#include "ipc/local_state_check.h"
#include "ipc/logged_text.h"
#include "ipc/mirror_dedup_guard.h"
#include "ipc/projection_log_record.h"
#include "ipc/push_file_record.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/untrusted_json.h"
#include "platform/windows.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

const char kParseFailedSummary[] = "CClientIpcManager::onIpcLogonAccount return failed";
constexpr ULONGLONG kMemoryReportIntervalMs = 60000;
constexpr std::uint64_t kMemoryReportStep = 1000;

// Frequent lines are kept for the 1st-3rd, 10th, 20th and every 50th occurrence.
bool thinnedIn(std::uint64_t count) { return count < 4 || count == 10 || count == 20 || count % 50 == 0; }

std::string utf8(const QString& text) { return text.toStdString(); }

}  // namespace

int CServiceIpcManager::onIpcpushFileAdd(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    QString path;
    bool updateLsid = false;
    const int result = pushFileAdd(body, path, updateLsid);
    if (result == 301) {
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", "301", kParseFailedSummary, reply, document);
        sendReply(ipcName, reply);
    }
    replyPushResults(ipcName, "pushFileAdd", path, result, updateLsid);
    return 0;
}

int CServiceIpcManager::pushFileAdd(const std::wstring& body, QString& outPath, bool& outUpdateLsid) {
    ProjectionLogRecord log(__FILE__, "CServiceIpcManager::onIpcpushFileAdd");
    outUpdateLsid = false;
    rapidjson::Document parsed;
    const std::string text = utf8FromWide(body);
    if (parseUntrustedJson(parsed, text.c_str(), text.size()).IsError()) {
        log.add(__LINE__, true,
                " rapidjson::Document::Parse() return failture,body = " + loggedText(text) + ", error = 301");
        return 301;
    }
    PushFileRecord record;
    std::string problem;
    const bool valid = readPushFileRecord(parsed, false, record, problem);
    outPath = record.filePath;
    if (!valid) {
        log.add(__LINE__, true,
                ProjectionLine("refuse push file record").field("path", utf8(outPath)).field("key", problem).str());
        return 1;
    }
    const QString path = record.filePath;
    if (CfApiWrapper::isTransientFile(path, record.type)) return 0;

    log.addDeferred(__LINE__, [record] {
        return (ProjectionLine("pushFileAdd | filePath =")
                << utf8(record.filePath) << "|_size =" << record.size << "|type =" << record.type
                << "|isVirtual =" << record.isVirtual << "|id  =" << record.id << "|bInUpQueue=" << record.inUpQueue
                << "|status=" << record.status << "|allowCreateMissingPlaceholder="
                << record.allowCreateMissingPlaceholder << "|preserveNativeFileTime=" << record.preserveNativeFileTime)
            .str();
    });
    const std::uint64_t total = ++pushFileAddTotal_;
    reportMemory("pushFileAdd", false);

    if (isHardLinkRepairTempName(path)) {
        log.add(__LINE__, false, "ignore hardlink repair temp file, path =" + utf8(path));
        return 0;
    }
    PlaceholderItemInfo item = record.placeholderItem(path);
    const CXFileInfo local(path);
    const bool localExists = local.exists();
    const bool preserve = record.preserveNativeFileTime && !record.isFolder() && !record.isVirtual;
    if (preserve && !localExists) {
        log.add(__LINE__, false,
                ProjectionLine("[ziduzudu-preserve-native-time] skip missing local projection")
                    .field("path", utf8(path))
                    .field("id", record.id)
                    .str());
        return 0;
    }
    if (preserve && (!local.isFile() || local.size() != record.size)) {
        log.add(__LINE__, true,
                changedLocalLine("[ziduzudu-preserve-native-time] reject changed local projection", utf8(path),
                                 record.size, local.size(), local.isFile()));
        return 1;
    }
    qint64 size = record.size;
    if (size == 0 && localExists && !preserve) size = local.size();
    if (!localExists && !record.allowCreateMissingPlaceholder) {
        log.add(__LINE__, false,
                ProjectionLine("[ziduzudu-stale-upload-refresh] skip missing local upload projection")
                    .field("path", utf8(path))
                    .field("id", record.id)
                    .field("size", size)
                    .field("type", record.type)
                    .field("status", record.status)
                    .field("bInUpQueue", record.inUpQueue)
                    .str());
        return 0;
    }

    const MirrorPushState state{record.id,         size,
                                record.type,       record.isVirtual,
                                record.status,     record.inUpQueue,
                                item.creationTime, item.modificationTime,
                                item.accessTime};
    ProjectionShellRefresh* refresh = shell();
    if (!record.inUpQueue && localExists) {
        const MirrorDedupHit hit = MirrorDedupGuard::instance().lookup(path, state);
        if (hit.isDuplicate) {
            const LocalStateCheck check = checkLocalStateIncomplete(path, local, size, record.isVirtual != 0);
            if (!check.incomplete) {
                const std::uint64_t skipped = ++pushFileAddSkipped_;
                if (refresh && size == 0 && !record.isVirtual && !record.isFolder()) {
                    refresh->notifyShellItemChanged(path, "pushFileAdd.duplicate-zero-local", false);
                    refresh->scheduleAncestorRefresh(path, mountedPathsCopy(), CfApiWrapper::connectedRoot(),
                                                     "pushFileAdd.duplicate-zero-local-parent-solid");
                } else if (refresh && !record.isVirtual && record.isFolder()) {
                    refresh->notifyFinalLocalDir(path, mountedPathsCopy(), CfApiWrapper::connectedRoot(),
                                                 QString::fromStdString(record.id), record.status, 0, outUpdateLsid,
                                                 "pushFileAdd.duplicate-final-local-dir-solid",
                                                 "pushFileAdd.duplicate-final-local-dir-parent-solid", false, false);
                }
                if (thinnedIn(hit.suppressedCount)) {
                    log.add(__LINE__, false,
                            ProjectionLine("[ziduzudu-mirror-dedup] skip duplicate pushFileAdd")
                                .field("path", utf8(path))
                                .field("id", record.id)
                                .field("size", size)
                                .field("type", record.type)
                                .field("isVirtual", record.isVirtual)
                                .field("status", record.status)
                                .field("ageMs", hit.ageMs)
                                .field("suppressedCount", hit.suppressedCount)
                                .field("total", total)
                                .field("skipped", skipped)
                                .str());
                }
                return 0;
            }
            log.add(__LINE__, false,
                    ProjectionLine("[ziduzudu-mirror-dedup] bypass duplicate pushFileAdd for incomplete local state")
                        .field("path", utf8(path))
                        .field("id", record.id)
                        .field("size", size)
                        .field("type", record.type)
                        .field("isVirtual", record.isVirtual)
                        .field("status", record.status)
                        .field("ageMs", hit.ageMs)
                        .field("suppressedCount", hit.suppressedCount)
                        .field("reason", check.reason)
                        .field("pinState", check.pinState)
                        .field("hydrated", check.hydrated)
                        .field("inSyncState", check.inSyncState)
                        .field("total", total)
                        .str());
        }
    }

    ++pushFileAddCfapi_;
    const QByteArray identity = record.identity();
    int result = 0;
    if (!localExists) {
        log.add(__LINE__, false, "createPlaceholderInfo, file: " + utf8(path) + " not  exist");
        result = CfApiWrapper::createPlaceholderInfo(path, record.isFolder(), item, size, identity);
    }
    if (size == 0) size = CXFileInfo(path).size();

    if (!record.inUpQueue) {
        // What the calls below make of the item, so that each of them finds it as the one before left it.
        KnownItemState known;
        // The snapshot taken above still holds unless a placeholder was created since.
        const PlaceholderInfo found = localExists ? CfApiWrapper::findPlaceholderInfo(path, local, &known)
                                                  : CfApiWrapper::findPlaceholderInfo(path, &known);
        if (found) {
            log.add(__LINE__, false, "has findPlaceholderInfo");
            result = CfApiWrapper::updatePlaceholderInfo(path, item, size, identity, QString(), preserve, &known);
        } else {
            // A conversion leaves nothing known of what the item has become.
            known = KnownItemState();
            log.add(__LINE__, false, "not  findPlaceholderInfo");
            result =
                CfApiWrapper::convertToPlaceholderEx(path, item, size, identity, QString(), &outUpdateLsid, preserve);
        }
        if (preserve && result != 0) {
            log.add(__LINE__, true,
                    ProjectionLine("[ziduzudu-preserve-native-time] local projection failed")
                        .field("path", utf8(path))
                        .field("ret", result)
                        .str());
            log.raise(ProjectionLogRecord::Failure);
            return result;
        }
        if (!record.isVirtual) {
            const bool pinOk = CfApiWrapper::setPinState(path, PinState::AlwaysLocal, PinRecursionNone,
                                                         known.exists ? &known : nullptr);
            const bool inSyncOk =
                CfApiWrapper::updateSyncState(path, CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE);
            if (!inSyncOk) {
                log.add(__LINE__, true, " updateSyncState fail, user updatePlaceholderInfo to refresh.");
                const int again = CfApiWrapper::updatePlaceholderInfo(path, item, size, identity, QString(), preserve);
                if (preserve && again != 0) result = again;
            }
            const QString root = CfApiWrapper::connectedRoot();
            if (result == 0 && record.isFolder() && record.isFinalStatus()) {
                if (refresh) {
                    refresh->notifyFinalLocalDir(path, mountedPathsCopy(), root, QString::fromStdString(record.id),
                                                 record.status, result, outUpdateLsid,
                                                 "pushFileAdd.final-local-dir-solid",
                                                 "pushFileAdd.final-local-dir-parent-solid", true, pinOk);
                }
            } else if (result == 0 && size == 0 && !record.isFolder()) {
                if (refresh && pinOk && inSyncOk) {
                    refresh->notifyShellItemChanged(path, "pushFileAdd.zero-local-solid", false);
                    refresh->scheduleAncestorRefresh(path, mountedPathsCopy(), root,
                                                     "pushFileAdd.zero-local-parent-solid");
                }
                log.add(__LINE__, false,
                        ProjectionLine("[ziduzudu-zero-local-solid] finalize zero local pushFileAdd")
                            .field("path", utf8(path))
                            .field("id", record.id)
                            .field("size", size)
                            .field("ret", result)
                            .field("pinOk", pinOk)
                            .field("inSyncOk", inSyncOk)
                            .field("updateLsid", outUpdateLsid)
                            .str());
            } else if (result == 0 && size > 0 && !record.isFolder() &&
                       (record.isFinalStatus() || record.status == 0)) {
                if (refresh) {
                    refresh->notifyFinalLocalFile(path, mountedPathsCopy(), root, "pushFileAdd.final-local-solid",
                                                  "pushFileAdd.final-local-file-parent-solid");
                }
                log.add(__LINE__, false,
                        ProjectionLine("[ziduzudu-final-local-solid] notify local solid pushFileAdd")
                            .field("path", utf8(path))
                            .field("id", record.id)
                            .field("size", size)
                            .field("status", record.status)
                            .field("ret", result)
                            .field("pinOk", pinOk)
                            .field("updateLsid", outUpdateLsid)
                            .str());
            }
        }
    } else {
        if (!CfApiWrapper::findPlaceholderInfo(path)) {
            log.add(__LINE__, false, "not  findPlaceholderInfo");
            result = CfApiWrapper::convertToPlaceholder(path, item, size, identity, QString(), &outUpdateLsid);
        }
        CfApiWrapper::updateSyncState(path, CF_IN_SYNC_STATE_NOT_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE);
        CfApiWrapper::setPinState(path, PinState::Unspecified, PinRecursionNone);
    }

    const bool remoteCreateVisible =
        !record.isLocalOnly() && record.isVirtual && !localExists && CXFileInfo(path).exists();
    if (result == 0 && !record.inUpQueue && record.isFinalStatus() && !record.isFolder() && remoteCreateVisible &&
        !CfApiWrapper::setPinState(path, PinState::OnlineOnly, PinRecursionNone)) {
        result = 1;
        log.add(__LINE__, true,
                ProjectionLine("[ziduzudu-remote-create-finalize] set online-only pin state failed")
                    .field("path", utf8(path))
                    .field("id", record.id)
                    .str());
        log.raise(ProjectionLogRecord::Failure);
    }
    if (remoteCreateVisible && refresh) {
        refresh->notifyRemoteCreateVisible(path, record.isFolder(), mountedPathsCopy(), CfApiWrapper::connectedRoot());
    }
    if (!record.inUpQueue) MirrorDedupGuard::instance().record(path, state, result);
    return result;
}

void CServiceIpcManager::reportMemory(const char* source, bool force) {
    std::lock_guard<std::mutex> lock(memoryReportMutex_);
    const ULONGLONG now = GetTickCount64();
    const std::uint64_t total = pushFileAddTotal_;
    if (!force && now - lastMemoryReportMs_ < kMemoryReportIntervalMs &&
        total - lastMemoryReportTotal_ < kMemoryReportStep) {
        return;
    }
    lastMemoryReportMs_ = now;
    lastMemoryReportTotal_ = total;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        LOG_WARN << ProjectionLine("[ziduzudu-memory] mirror process GetProcessMemoryInfo failed")
                        .field("source", source)
                        .field("err", static_cast<unsigned long>(GetLastError()))
                        .str();
        return;
    }
    LOG_INFO << ProjectionLine("[ziduzudu-memory] mirror process")
                    .field("source", source)
                    .field("workingSetKB", counters.WorkingSetSize / 1024)
                    .field("peakWorkingSetKB", counters.PeakWorkingSetSize / 1024)
                    .field("privateUsageKB", counters.PagefileUsage / 1024)
                    .field("pagefileUsageKB", counters.PagefileUsage / 1024)
                    .field("pushFileAddTotal", total)
                    .field("pushFileAddCfapi", pushFileAddCfapi_.load())
                    .field("pushFileAddSkipped", pushFileAddSkipped_.load())
                    .field("guardSize", MirrorDedupGuard::instance().size())
                    .str();
}
