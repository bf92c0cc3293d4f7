#include "ipc/download_metadata_reply.h"

#include "ipc/client_reply.h"

namespace {

bool stringMember(const rapidjson::Value& object, const char* name, QString& out) {
    auto found = object.FindMember(name);
    if (found == object.MemberEnd() || !found->value.IsString()) return false;
    out = QString::fromUtf8(found->value.GetString(), static_cast<int>(found->value.GetStringLength()));
    return true;
}

}  // namespace

int readDownloadMetadataReply(const std::wstring& replyText, bool* taskExists, DownloadMetadata* metadata,
                              QString* newLsid) {
    ClientReply reply;
    if (!parseClientReply(replyText, reply) || !reply.succeeded()) return -1;
    if (taskExists) *taskExists = false;
    if (!reply.var.IsObject()) return 0;
    const auto& var = reply.var;
    if (metadata) {
        stringMember(var, "url", metadata->strUrl);
        stringMember(var, "contentHashAlgorithm", metadata->strHashAlgorithmType);
        stringMember(var, "contentHash", metadata->strHashValue);
        auto size = var.FindMember("size");
        if (size != var.MemberEnd() && size->value.IsInt64()) metadata->iFileSize = size->value.GetInt64();
    }
    if (taskExists) {
        auto found = var.FindMember("taskExists");
        *taskExists = found != var.MemberEnd() && found->value.IsBool() && found->value.GetBool();
    }
    if (newLsid) stringMember(var, "newLsid", *newLsid);
    return 0;
}
