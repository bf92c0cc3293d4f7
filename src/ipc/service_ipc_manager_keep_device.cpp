// How one item is held on this device, as the main client decides it: a downloaded file replaces
// the placeholder and stays ("pushKeepOnDevice"), a newer version replaces the local file
// ("pushUpdateFile"), a file becomes online-only again ("pushFreeUpSpace"), and the
// sync-to-local pin state of a tree ("setSyncToLocalPinState").
#include <iostream>

#include "cfapi/cf_api_wrapper.h"
#include "ipc/ipc_text.h"
#include "ipc/logged_text.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/untrusted_json.h"
#include "platform/windows.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

const char kParseFailedSummary[] = "CClientIpcManager::onIpcLogonAccount return failed";
const char kPinStateFailedSummary[] = "CClientIpcManager::onSetSyncToLocalPinState return failed";

// A member of another type than the command's is refused like a body that does not parse, so
// that a number is never read as an empty path; an absent member reads as empty.
bool readText(const rapidjson::Value& body, const char* name, QString& out) {
    auto found = body.FindMember(name);
    if (found == body.MemberEnd()) return true;
    if (!found->value.IsString()) return false;
    out = QString::fromUtf8(found->value.GetString(), static_cast<int>(found->value.GetStringLength()));
    return true;
}

qint64 secondsOf(const QDateTime& time) { return time.isValid() ? time.toMSecsSinceEpoch() / 1000 : 0; }

// The record the conversion takes for the file that holds the new content.
PlaceholderItemInfo itemOfFile(const QString& path, qint64& size) {
    const CXFileInfo local(path);
    PlaceholderItemInfo item;
    item.path = path.toStdWString();
    item.creationTime = secondsOf(local.created());
    item.modificationTime = secondsOf(local.lastModified());
    item.accessTime = secondsOf(local.lastRead());
    item.normalizeTimes();
    size = local.size();
    return item;
}

bool isTransient(const QString& path) { return CfApiWrapper::isTransientFile(path, -1); }

}  // namespace

bool CServiceIpcManager::parseItemBody(const char* handler, const std::string& ipcName, const std::wstring& body,
                                       rapidjson::Document& parsed, const char* summary) {
    const std::string text = utf8FromWide(body);
    if (!parseUntrustedJson(parsed, text.c_str(), text.size()).IsError() && parsed.IsObject()) return true;
    const std::string logged = loggedText(text);
    std::cout << handler << " rapidjson::Document::Parse() return failture, body =" << logged << ", error =" << 301
              << std::endl;
    LOG_WARN << handler << " rapidjson::Document::Parse() return failture,"
             << " body =" << logged << ", error =" << 301;
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnFailure("S_FAIL", "301", summary, reply, document);
    sendReply(ipcName, reply);
    return false;
}

int CServiceIpcManager::parseMoveRequest(const char* handler, const std::string& ipcName, const std::wstring& body,
                                         QString& source, QString& destination, QString& id) {
    rapidjson::Document parsed;
    if (!parseItemBody(handler, ipcName, body, parsed, kParseFailedSummary)) return 301;
    if (readText(parsed, "sourcePath", source) && readText(parsed, "destPath", destination) &&
        readText(parsed, "id", id)) {
        return 0;
    }
    return refuseItemBody(handler, ipcName, body, kParseFailedSummary);
}

int CServiceIpcManager::onIpcKeepOnDevice(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    const char* handler = "CServiceIpcManager::onIpcKeepOnDevice";
    QString source, destination, id;
    if (const int refused = parseMoveRequest(handler, ipcName, body, source, destination, id)) return refused;
    if (isTransient(source) || isTransient(destination)) {
        replyPushResults(ipcName, "pushKeepOnDevice", destination, 0, false);
        return 0;
    }
    // Without a source the content is already at the destination, and that file is what is converted.
    qint64 size = 0;
    const PlaceholderItemInfo item = itemOfFile(source.isEmpty() ? destination : source, size);
    LOG_INFO << "KeepOnDevice | sourcePath =" << source << "size =" << size << "destPath =" << destination
             << "|id  =" << id;
    int result = 0;
    if (!source.isEmpty()) {
        // A downloaded temporary file is hidden; the file it becomes must not be.
        const std::wstring longSource = CfApiWrapper::toLongPath(source).toStdWString();
        const DWORD attributes = GetFileAttributesW(longSource.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            SetFileAttributesW(longSource.c_str(), attributes & ~(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        }
        QString error;
        if (!CfApiWrapper::replaceFileWith(source, destination, &error)) result = 1;
    }
    bool updateLsid = false;
    if (result == 0) {
        result =
            CfApiWrapper::convertToPlaceholderEx(destination, item, size, id.toUtf8(), QString(), &updateLsid, false);
    }
    CfApiWrapper::setPinState(destination, PinState::AlwaysLocal, PinRecursionNone);
    replyPushResults(ipcName, "pushKeepOnDevice", destination, result, updateLsid);
    return 0;
}

int CServiceIpcManager::onIpcUpdateFile(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    const char* handler = "CServiceIpcManager::onIpcUpdateFile";
    QString source, destination, id;
    if (const int refused = parseMoveRequest(handler, ipcName, body, source, destination, id)) return refused;
    if (isTransient(source) || isTransient(destination)) {
        replyPushResults(ipcName, "pushUpdateFile", destination, 0, false);
        return 0;
    }
    qint64 size = 0;
    const PlaceholderItemInfo item = itemOfFile(source, size);
    LOG_INFO << handler << "UpdateFile | sourcePath =" << source << "size =" << size << "destPath =" << destination
             << "|id  =" << id;
    int result = 0;
    bool updateLsid = false;
    // The new content becomes a placeholder with the item's identity while it is still at its
    // temporary path, so the replace is a single rename: a reader sees the old file or the new one.
    if (!source.isEmpty()) {
        result = CfApiWrapper::convertToPlaceholderEx(source, item, size, id.toUtf8(), destination, &updateLsid, false);
    }
    if (result == 0) {
        QString error;
        if (!CfApiWrapper::replaceFileWith(source, destination, &error)) result = 1;
    }
    CfApiWrapper::setPinState(destination, PinState::Unspecified, PinRecursionNone);
    replyPushResults(ipcName, "pushUpdateFile", destination, result, updateLsid);
    return 0;
}

int CServiceIpcManager::onIpcFreeUpSpace(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    const char* handler = "CServiceIpcManager::onIpcFreeUpSpace";
    rapidjson::Document parsed;
    QString path, id;
    const bool valid = parseItemBody(handler, ipcName, body, parsed, kParseFailedSummary);
    if (!valid || !readText(parsed, "filePath", path) || !readText(parsed, "id", id)) {
        return valid ? refuseItemBody(handler, ipcName, body, kParseFailedSummary) : 301;
    }
    if (!isTransient(path)) {
        LOG_INFO << handler << "FreeUpSpace | localPath =" << path << "|id  =" << id;
        // Failures are the Cloud Files layer's to log; the client is answered success regardless.
        CfApiWrapper::setPinState(path, PinState::OnlineOnly, PinRecursionNone);
        CfApiWrapper::dehydratePlaceholder(path, CXFileInfo(path).size(), id.toUtf8());
    }
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::onSetSyncToLocalPinState(const std::string& ipcName, const std::wstring& body,
                                                 const std::wstring&) {
    const char* handler = "CServiceIpcManager::onSetSyncToLocalPinState";
    rapidjson::Document parsed;
    QString path;
    if (!parseItemBody(handler, ipcName, body, parsed, kPinStateFailedSummary)) return 301;
    auto state = parsed.FindMember("state");
    const bool stateValid = state != parsed.MemberEnd() && state->value.IsInt() &&
                            state->value.GetInt() >= static_cast<int>(PinState::Inherit) &&
                            state->value.GetInt() <= static_cast<int>(PinState::Unspecified);
    if (!readText(parsed, "filePath", path) || !stateValid) {
        return refuseItemBody(handler, ipcName, body, kPinStateFailedSummary);
    }
    path.replace('/', '\\');
    CfApiWrapper::setSyncToLocalPinState(path, static_cast<PinState>(state->value.GetInt()), PinRecursionRecurse);
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::refuseItemBody(const char* handler, const std::string& ipcName, const std::wstring& body,
                                       const char* summary) {
    LOG_WARN << handler << " refused body of wrong member types, body =" << loggedText(utf8FromWide(body));
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnFailure("S_FAIL", "301", summary, reply, document);
    sendReply(ipcName, reply);
    return 301;
}
