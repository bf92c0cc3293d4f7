// The batch projection of the client's tree ("pushFileSystem"), the single-item state push
// ("pushFileStatus"), the in-sync mark ("updateSyncState") and the per-item result reply.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QFileInfo>
#include <iostream>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/pinned_folder_memo.h"
#include "ipc/ipc_text.h"
#include "ipc/logged_text.h"
#include "ipc/projection_log_record.h"
#include "ipc/push_file_record.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/untrusted_json.h"
#include "suite/base/winpath.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

const char kParseFailedSummary[] = "CClientIpcManager::onIpcLogonAccount return failed";

bool exists(const QString& path) { return CXFileInfo(path).exists(); }

QString nativePath(QString path) { return path.replace('/', '\\'); }

std::string utf8(const QString& text) { return text.toStdString(); }

}  // namespace

int CServiceIpcManager::onIpcpushFileSystem(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    rapidjson::Document parsed;
    const std::string text = utf8FromWide(body);
    const bool parsedOk = !parseUntrustedJson(parsed, text.c_str(), text.size()).IsError();
    // A body without a "fileInfo" array holds no record to answer for, so it is answered like
    // one that does not parse.
    const bool usable = parsedOk && parsed.IsObject() && parsed.HasMember("fileInfo") && parsed["fileInfo"].IsArray();
    if (!usable) {
        LOG_WARN << "CServiceIpcManager::onIpcpushFileSystem"
                 << " rapidjson::Document::Parse() return failure,"
                 << "body = " << loggedText(text) << ", error = " << 301;
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", "301", kParseFailedSummary, reply, document);
        sendReply(ipcName, reply);
        return 301;
    }
    const auto& items = parsed["fileInfo"].GetArray();
    LOG_INFO << "recive file number :" << static_cast<unsigned int>(items.Size());
    std::map<std::string, int> results;
    std::set<QString> updateLsidPaths;
    {
        const PinnedFolderMemo pinnedFolders;
        // The batch's lines reach the log file together, before the reply.
        const DeferredLogFlush batchLines;
        for (const auto& item : items) {
            QString path;
            bool updateLsid = false;
            const int result = parserPushFile(item, path, updateLsid);
            results[utf8(path)] = result;
            if (updateLsid) updateLsidPaths.insert(winpath::cleanPath(path));
        }
    }
    replyPushResults(ipcName, "pushFileSystem", results, updateLsidPaths);
    return 0;
}

int CServiceIpcManager::parserPushFile(const rapidjson::Value& record, QString& outPath, bool& outUpdateLsid) {
    return projectPushFile(record, PushVariant::Batch, outPath, outUpdateLsid);
}

int CServiceIpcManager::parserPushFile(const std::wstring& bodyText, QString& outPath, bool& outUpdateLsid) {
    outUpdateLsid = false;
    rapidjson::Document parsed;
    const std::string text = utf8FromWide(bodyText);
    if (parseUntrustedJson(parsed, text.c_str(), text.size()).IsError()) return 301;
    return projectPushFile(parsed, PushVariant::Status, outPath, outUpdateLsid);
}

int CServiceIpcManager::projectPushFile(const rapidjson::Value& value, PushVariant variant, QString& outPath,
                                        bool& outUpdateLsid) {
    const bool batch = variant == PushVariant::Batch;
    ProjectionLogRecord log(__FILE__, "CServiceIpcManager::parserPushFile");
    outUpdateLsid = false;
    PushFileRecord record;
    std::string problem;
    const bool valid = readPushFileRecord(value, true, record, problem);
    outPath = record.itemPath();
    if (!valid) {
        log.add(__LINE__, true,
                ProjectionLine("refuse push file record").field("path", utf8(outPath)).field("key", problem).str());
        return 1;
    }
    QString path = outPath;
    if (CfApiWrapper::isTransientFile(path, record.type)) return 0;
    if (isHardLinkRepairTempName(path)) {
        log.add(__LINE__, false, "ignore hardlink repair temp file, path =" + utf8(path));
        return 0;
    }
    if (record.isLocalOnly() && !exists(path)) {
        log.add(__LINE__, false, "skip local-only push file because path no longer exists, path =" + utf8(path));
        return 0;
    }

    // What the item is before anything below changes it.
    const CXFileInfo local(path);
    const bool localExisted = local.exists();
    path = nativePath(path);
    const PlaceholderItemInfo item = record.placeholderItem(path);
    const QByteArray identity = record.identity();
    const bool preserve = record.preserveNativeFileTime && !record.isFolder() && !record.isVirtual;
    if (batch) {
        log.addDeferred(__LINE__, [name = record.fileName, folder = record.filePath, isVirtual = record.isVirtual,
                                   preserveNative = record.preserveNativeFileTime] {
            return (ProjectionLine("CreatePlaceHolder |fileName =")
                    << utf8(name) << "|filePath =" << utf8(folder) << "|isVirtual =" << isVirtual
                    << "|preserveNativeFileTime =" << preserveNative)
                .str();
        });
    } else {
        log.add(__LINE__, false,
                (ProjectionLine(" CreatePlaceHolder |fileName =")
                 << utf8(record.fileName) << "|filePath =" << utf8(record.filePath))
                    .field("isVirtual", record.isVirtual)
                    .field("modTime", item.modificationTime)
                    .field("size", CXFileInfo(record.filePath).size())
                    .field("_size", record.size)
                    .field("preserveNativeFileTime", record.preserveNativeFileTime)
                    .str());
    }
    const char* source = batch ? "batch" : "status";
    if (preserve && !localExisted) {
        log.add(
            __LINE__, false,
            ProjectionLine(std::string("[ziduzudu-preserve-native-time] skip missing local ") + source + " projection")
                .field("path", utf8(path))
                .field("id", record.id)
                .str());
        return 0;
    }
    if (preserve) {
        if (!local.isFile() || local.size() != record.size) {
            log.add(__LINE__, true,
                    changedLocalLine(
                        std::string("[ziduzudu-preserve-native-time] reject changed local ") + source + " projection",
                        utf8(path), record.size, local.size(), local.isFile()));
            return 1;
        }
    }

    // What the calls below make of the item, so that each of them finds it as the one before left it.
    KnownItemState known;
    if (batch) {
        if (!localExisted) {
            CfApiWrapper::createPlaceholderInfo(path, record.isFolder(), item, record.size, identity, &known);
            CfApiWrapper::setPinState(path, PinState::OnlineOnly, PinRecursionRecurse, known.exists ? &known : nullptr);
            CfApiWrapper::dehydratePlaceholder(path, record.size, identity, &known);
        } else {
            int result = 0;
            if (CfApiWrapper::findPlaceholderInfo(path, local, &known)) {
                result =
                    CfApiWrapper::updatePlaceholderInfo(path, item, record.size, identity, QString(), preserve, &known);
            } else {
                // A conversion leaves nothing known of what the item has become.
                known = KnownItemState();
                result =
                    CfApiWrapper::convertToPlaceholder(path, item, record.size, identity, QString(), &outUpdateLsid);
            }
            if (preserve && result != 0) {
                log.raise(ProjectionLogRecord::Failure);
                return result;
            }
        }
    } else if (!preserve) {
        if (CfApiWrapper::createPlaceholderInfo(path, record.isFolder(), item, record.size, identity) == 1) {
            log.add(__LINE__, false, " createPlaceholderInfo fail. use convertToPlaceholderEx.");
            CfApiWrapper::convertToPlaceholderEx(path, item, record.size, identity, QString(), &outUpdateLsid, false);
        }
    } else {
        const int result =
            CfApiWrapper::convertToPlaceholderEx(path, item, record.size, identity, QString(), &outUpdateLsid, true);
        if (result != 0) {
            log.raise(ProjectionLogRecord::Failure);
            return result;
        }
    }

    if (batch && record.isLocalOnly()) {
        CfApiWrapper::setPathExcludedState(path);
    } else {
        log.addDeferred(__LINE__, [path, isVirtual = record.isVirtual] {
            return (ProjectionLine("setPinState |localPath =") << utf8(path) << "|isVirtual =" << isVirtual).str();
        });
        const bool pinOk =
            CfApiWrapper::setPinState(path, record.isVirtual ? PinState::OnlineOnly : PinState::AlwaysLocal,
                                      PinRecursionNone, known.exists ? &known : nullptr);
        if (preserve && record.size == 0 && !record.isLocalOnly()) {
            const bool inSyncOk =
                pinOk && CfApiWrapper::updateSyncState(path, CF_IN_SYNC_STATE_IN_SYNC, CF_SET_IN_SYNC_FLAG_NONE);
            log.add(__LINE__, !(pinOk && inSyncOk),
                    ProjectionLine("[ziduzudu-zero-status-final] finalize stable zero local projection")
                        .field("source", source)
                        .field("path", utf8(path))
                        .field("pinOk", pinOk)
                        .field("inSyncOk", inSyncOk)
                        .str());
            if (!pinOk || !inSyncOk) {
                log.raise(ProjectionLogRecord::Failure);
                return 1;
            }
            if (ProjectionShellRefresh* refresh = shell()) {
                refresh->notifyFinalLocalFile(
                    path, mountedPathsCopy(), CfApiWrapper::connectedRoot(),
                    batch ? "pushFileSystem.zero-local-solid" : "pushFileStatus.zero-local-solid",
                    batch ? "pushFileSystem.zero-local-parent-solid" : "pushFileStatus.zero-local-parent-solid");
            }
        }
    }

    if (!record.isLocalOnly() && record.isVirtual && !localExisted && (known.exists || exists(path))) {
        if (ProjectionShellRefresh* refresh = shell()) {
            refresh->notifyRemoteCreateVisible(path, record.isFolder(), mountedPathsCopy(),
                                               CfApiWrapper::connectedRoot());
        }
    }
    return 0;
}

int CServiceIpcManager::onIpcpushFileStatus(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    QString path;
    bool updateLsid = false;
    const int result = parserPushFile(body, path, updateLsid);
    if (result == 301) {
        LOG_WARN << "CServiceIpcManager::onIpcpushFileStatus"
                 << " rapidjson::Document::Parse() return failure,"
                 << "body = " << loggedText(utf8FromWide(body)) << ", error = " << 301;
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", "301", kParseFailedSummary, reply, document);
        sendReply(ipcName, reply);
        return 301;
    }
    replyPushResults(ipcName, "pushFileStatus", path, result, updateLsid);
    return 0;
}

int CServiceIpcManager::onPushSyncState(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    rapidjson::Document parsed;
    const std::string text = utf8FromWide(body);
    if (parseUntrustedJson(parsed, text.c_str(), text.size()).IsError()) {
        LOG_WARN << "CServiceIpcManager::onPushSyncState"
                 << " rapidjson::Document::Parse() return failure,"
                 << "body = " << loggedText(text) << ", error = " << 301;
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", "301", kParseFailedSummary, reply, document);
        sendReply(ipcName, reply);
        return 301;
    }
    QString path;
    int state = -1;
    if (parsed.IsObject() && parsed.HasMember("filePath") && parsed["filePath"].IsString()) {
        path =
            QString::fromUtf8(parsed["filePath"].GetString(), static_cast<int>(parsed["filePath"].GetStringLength()));
    }
    if (parsed.IsObject() && parsed.HasMember("state") && parsed["state"].IsInt()) state = parsed["state"].GetInt();
    std::cout << "CServiceIpcManager::onPushSyncState"
              << " filePath =" << utf8(path) << " state =" << state << std::endl;
    // The client is answered success whatever the Cloud Files call made of it.
    if (!path.isEmpty() && state >= 0)
        CfApiWrapper::updateSyncState(nativePath(path), static_cast<CF_IN_SYNC_STATE>(state), CF_SET_IN_SYNC_FLAG_NONE);
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

void CServiceIpcManager::replyPushResults(const std::string& ipcName, const char* command,
                                          const std::map<std::string, int>& results,
                                          const std::set<QString>& updateLsidPaths) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    bool failed = false;
    writer.StartObject();
    writer.Key("funcName");
    writer.String(command);
    writer.Key("fileInfo");
    writer.StartArray();
    for (const auto& [path, result] : results) {
        writer.StartObject();
        writer.Key("filePath");
        writer.String(path.c_str(), static_cast<rapidjson::SizeType>(path.size()));
        writer.Key("ret");
        writer.Int64(result);
        if (!updateLsidPaths.empty() && updateLsidPaths.count(winpath::cleanPath(QString::fromStdString(path)))) {
            writer.Key("bUpdateLsid");
            writer.Bool(true);
        }
        writer.EndObject();
        failed = failed || result != 0;
    }
    writer.EndArray();
    writer.Key("code");
    writer.String(failed ? "S_FAIL" : "S_OK");
    writer.EndObject();
    sendReply(ipcName, wideFromUtf8(std::string(buffer.GetString(), buffer.GetSize())));
}

void CServiceIpcManager::replyPushResults(const std::string& ipcName, const char* command, const QString& path,
                                          int result, bool updateLsid) {
    std::set<QString> flagged;
    if (updateLsid) flagged.insert(winpath::cleanPath(path));
    replyPushResults(ipcName, command, {{utf8(path), result}}, flagged);
}
