// Downloads by URL: the metadata request to the main client, the download that fills a pending
// fetch request, the "downloadUrl" command, and what follows a download (pin, or freeing the
// partial content of a failed one).
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <thread>

#include "cfapi/cf_api_wrapper.h"
#include "download/download_task_table.h"
#include "ipc/download_metadata_reply.h"
#include "ipc/download_stream.h"
#include "ipc/ipc_text.h"
#include "ipc/service_ipc_manager.h"
#include "platform/shlobj.h"
#include "suite/base/is_cloud_file.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kHydrationTimeoutMs = 60000;
constexpr int kHandedOverTimeoutMs = 30000;
constexpr int kPinRetries = 10;
constexpr auto kPinRetryPause = std::chrono::milliseconds(300);
// Long enough for an application that failed to open the file again and start a new fetch.
constexpr auto kCleanUpDelay = std::chrono::milliseconds(1000);

std::wstring requestText(const char* command, const rapidjson::Document& body) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    body.Accept(writer);
    return wideFromUtf8(std::string(command) + "\r\n" + std::string(buffer.GetString(), buffer.GetSize()));
}

QString stringOf(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    if (found == object.MemberEnd() || !found->value.IsString()) return QString();
    return QString::fromUtf8(found->value.GetString(), static_cast<int>(found->value.GetStringLength()));
}

bool boolOf(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    return found != object.MemberEnd() && found->value.IsBool() && found->value.GetBool();
}

void retryPin(const QString& path) {
    std::thread([path] {
        for (int attempt = 0; attempt < kPinRetries; ++attempt) {
            std::this_thread::sleep_for(kPinRetryPause);
            if (CfApiWrapper::setPinState(path, PinState::AlwaysLocal, PinRecursionNone)) {
                LOG_INFO << "retry |filePath =" << path << " |set PinState AlwaysLocal success";
                return;
            }
        }
    }).detach();
}

void freePartialContentLater(const std::string& taskId, const QString& path) {
    std::thread([taskId, path] {
        std::this_thread::sleep_for(kCleanUpDelay);
        if (DownloadTaskTable::instance().hasTask(taskId)) {
            LOG_INFO << "download failed but new fetch detected, skip free up |filePath =" << path << "|id =" << taskId;
            return;
        }
        const std::wstring widePath = CfApiWrapper::toLongPath(path).toStdWString();
        if (!IsCloudFile(widePath)) {
            LOG_INFO << "download failed, but is not cloud file now. |filePath =" << path;
            return;
        }
        LOG_INFO << "download failed, freeing up partial content |filePath =" << path;
        CfApiWrapper::setPinState(path, PinState::OnlineOnly, PinRecursionNone);
        CfApiWrapper::dehydratePlaceholder(path, CXFileInfo(path).size(), QByteArray::fromStdString(taskId));
        LOG_INFO << "free up partial content done |filePath =" << path;
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.toStdWString().c_str(), nullptr);
    }).detach();
}

void endTransientTask(const std::string& taskId) {
    auto& table = DownloadTaskTable::instance();
    if (table.hasTask(taskId)) {
        const CF_CALLBACK_INFO context = table.getTask(taskId);
        CfApiWrapper::cancelTask(context.ConnectionKey, context.TransferKey);
    }
    table.removeTask(taskId);
    table.removeCancelled(taskId);
}

}  // namespace

int CServiceIpcManager::getDownloadMetadata(const std::string& taskId, const QString& localPath, bool* taskExists,
                                            DownloadMetadata* metadata, QString* newLsid) {
    rapidjson::Document body;
    body.SetObject();
    auto& allocator = body.GetAllocator();
    const std::string path = localPath.toStdString();
    body.AddMember("id", rapidjson::Value(taskId.c_str(), allocator), allocator);
    body.AddMember("localPath", rapidjson::Value(path.c_str(), allocator), allocator);
    LOG_INFO << "call getDownloadMetadata, id =" << taskId;
    std::wstring text;
    request(requestText("getDownloadMetadata", body), text);
    LOG_INFO << "call getDownloadMetadata, res =" << text;
    return readDownloadMetadataReply(text, taskExists, metadata, newLsid);
}

int CServiceIpcManager::downloadByUrl(const std::string& taskId, const QString& localPath,
                                      const DownloadMetadata& metadata) {
    auto& table = DownloadTaskTable::instance();
    if (CfApiWrapper::isTransientFile(localPath, 1)) {
        endTransientTask(taskId);
        return 0;
    }
    LOG_INFO << " begin, filePath =" << localPath << ", id = " << taskId;
    const CF_CALLBACK_INFO context = table.getTask(taskId);
    DownloadStream stream(taskId, context);
    bool success = stream.receive(metadata.strUrl, kHydrationTimeoutMs);
    if (stream.cancelled()) {
        CfApiWrapper::cancelTask(context.ConnectionKey, context.TransferKey);
        LOG_INFO << " cancelTask, filePath = " << localPath << ", id = " << taskId;
    }
    table.removeTask(taskId);
    table.removeCancelled(taskId);
    if (!stream.flushTail()) success = false;
    if (success && metadata.iFileSize >= 0 && stream.transferred() != metadata.iFileSize) {
        LOG_WARN << "transfer size mismatch, filePath =" << localPath << "id =" << taskId
                 << "transferred =" << stream.transferred() << "expected =" << metadata.iFileSize;
        success = false;
    }
    LOG_INFO << " end, downloadSuccess = " << success << ", filePath =" << localPath << ", id = " << taskId;
    if (!success) {
        freePartialContentLater(taskId, localPath);
        return -1;
    }
    const bool pinned = CfApiWrapper::setPinState(localPath, PinState::AlwaysLocal, PinRecursionNone);
    LOG_INFO << " setPinState AlwaysLocal result = " << pinned;
    if (!pinned) retryPin(localPath);
    return 0;
}

int CServiceIpcManager::onIpcDownloadUrl(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed, "parse json failed", true)) return -1;
    const std::string taskId = stringOf(parsed, "id").toStdString();
    const QString url = stringOf(parsed, "url");
    const QString path = stringOf(parsed, "filePath");
    const bool taskExists = boolOf(parsed, "taskExists");

    rapidjson::Document document;
    document.SetObject();
    rapidjson::Value var(rapidjson::kObjectType);
    var.AddMember("taskExists", taskExists, document.GetAllocator());
    document.AddMember("var", var, document.GetAllocator());
    std::wstring reply;
    auto answer = [&](int result) {
        sendReply(ipcName, reply);
        return result;
    };
    if (CfApiWrapper::isTransientFile(path, 1)) {
        endTransientTask(taskId);
        onIpcReturnSuccess(document, reply);
        return answer(0);
    }
    LOG_INFO << "DownloadUrl | url =" << url << "|id =" << taskId << "|filePath =" << path
             << " newLsid:" << stringOf(parsed, "newLsid");
    auto& table = DownloadTaskTable::instance();
    if (taskExists) {
        onIpcReturnSuccess(document, reply);
        table.removeCancelled(taskId);
        LOG_INFO << "task Already Exists";
        return answer(0);
    }
    const CF_CALLBACK_INFO context = table.getTask(taskId);
    HRESULT hr = CfApiWrapper::sendImmediateAck(context.ConnectionKey, context.TransferKey, context.FileSize.QuadPart);
    if (FAILED(hr)) {
        LOG_WARN << ": Immediate ack failed:" << hr;
        rapidjson::Document failure;
        onIpcReturnFailure(ReplyEnvelope::kFailure, std::to_string(hr), "Immediate ack failed", reply, failure);
        return answer(-1);
    }
    DownloadStream stream(taskId, context);
    bool success = stream.receive(url, kHandedOverTimeoutMs);
    if (stream.cancelled()) CfApiWrapper::cancelTask(context.ConnectionKey, context.TransferKey);
    table.removeCancelled(taskId);
    if (!stream.flushTail()) success = false;
    if (!success) {
        rapidjson::Document failure;
        onIpcReturnFailure(ReplyEnvelope::kFailure, "1001", "CClientIpcManager::Download user cancle", reply, failure);
        return answer(-1);
    }
    const bool pinned = CfApiWrapper::setPinState(path, PinState::AlwaysLocal, PinRecursionNone);
    LOG_INFO << "download scusess |filePath =" << path << " |set PinState AlwaysLocal result =" << pinned;
    if (!pinned) retryPin(path);
    onIpcReturnSuccess(document, reply);
    return answer(0);
}
