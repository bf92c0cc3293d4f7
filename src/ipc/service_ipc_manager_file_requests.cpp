// The file-list requests that the context-menu actions send to the main client: each names a list
// of paths (or cloud identities) in "filelist" and succeeds when the client answers "S_OK".
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "ipc/client_reply.h"
#include "ipc/ipc_text.h"
#include "ipc/mirror_dedup_guard.h"
#include "ipc/service_ipc_manager.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

std::wstring fileListRequest(const char* command, const QStringList& list) {
    rapidjson::Document body;
    body.SetObject();
    auto& allocator = body.GetAllocator();
    rapidjson::Value files(rapidjson::kArrayType);
    for (const QString& item : list) {
        const QByteArray utf8 = item.toUtf8();
        files.PushBack(rapidjson::Value(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()), allocator),
                       allocator);
    }
    body.AddMember("filelist", files, allocator);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    body.Accept(writer);
    return wideFromUtf8(std::string(command) + "\r\n" + std::string(buffer.GetString(), buffer.GetSize()));
}

QString textOf(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    if (found == object.MemberEnd() || !found->value.IsString()) return QString();
    return QString::fromUtf8(found->value.GetString(), static_cast<int>(found->value.GetStringLength()));
}

qint64 numberOf(const rapidjson::Value& object, const char* name) {
    auto found = object.FindMember(name);
    if (found == object.MemberEnd()) return 0;
    if (found->value.IsInt64()) return found->value.GetInt64();
    if (found->value.IsBool()) return found->value.GetBool() ? 1 : 0;
    return 0;
}

}  // namespace

bool CServiceIpcManager::sendFileList(const char* command, const QStringList& list, std::wstring* replyText) {
    std::wstring text;
    request(fileListRequest(command, list), text);
    if (replyText) *replyText = text;
    ClientReply reply;
    return parseClientReply(text, reply) && reply.succeeded();
}

bool CServiceIpcManager::requestFilesInfo(const QStringList& paths, std::vector<ClientFileInfo>* infos) {
    std::wstring text;
    request(fileListRequest("getFilesInfo", paths), text);
    ClientReply reply;
    if (!parseClientReply(text, reply) || !reply.succeeded()) return false;
    if (!infos || !reply.var.IsObject()) return true;
    auto list = reply.var.FindMember("fileInfos");
    if (list == reply.var.MemberEnd() || !list->value.IsArray()) return true;
    for (const auto& record : list->value.GetArray()) {
        if (!record.IsObject()) continue;
        ClientFileInfo info;
        info.id = textOf(record, "id");
        info.sid = textOf(record, "sid");
        info.filePath = textOf(record, "filePath");
        info.fileName = textOf(record, "fileName");
        info.isVirtual = static_cast<int>(numberOf(record, "isVirtual"));
        info.type = static_cast<int>(numberOf(record, "type"));
        info.lUpdateTime = numberOf(record, "lUpdateTime");
        info.lCreateTime = numberOf(record, "lCreateTime");
        info.lAccessTime = numberOf(record, "lAccessTime");
        info.size = numberOf(record, "size");
        infos->push_back(info);
    }
    return true;
}

bool CServiceIpcManager::requestKeepDevice(const QStringList& paths) {
    LOG_INFO << "call setKeepDevice filelist  size =" << paths.size();
    return sendFileList("setKeepDevice", paths);
}

bool CServiceIpcManager::requestReleaseSpace(const QStringList& paths) {
    // The client pushes the freed items again; a recent identical push must not hide that.
    const std::size_t invalidated =
        MirrorDedupGuard::instance().invalidate(std::vector<QString>(paths.begin(), paths.end()));
    LOG_INFO << "call setReleaseSpace filelist size =" << paths.size()
             << ", invalidated pushFileAdd records =" << invalidated;
    return sendFileList("setReleaseSpace", paths);
}

bool CServiceIpcManager::requestHistoryFile(const QStringList& sids) {
    LOG_INFO << "call setHistoryFile filelist  size =" << sids.size();
    return sendFileList("setHistoryFile", sids);
}

bool CServiceIpcManager::requestAddToZiduZudu(const QStringList& paths) {
    LOG_INFO << "call addToZiduZudu filelist size =" << paths.size();
    std::wstring reply;
    const bool sent = sendFileList("addToZiduZudu", paths, &reply);
    if (!sent) LOG_WARN << "addToZiduZudu failed response =" << reply;
    return sent;
}
