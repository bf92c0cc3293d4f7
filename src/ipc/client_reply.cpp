#include "ipc/client_reply.h"

#include "ipc/ipc_text.h"
#include "ipc/untrusted_json.h"

namespace {

std::string stringMember(const rapidjson::Document& document, const char* name) {
    auto found = document.FindMember(name);
    if (found == document.MemberEnd() || !found->value.IsString()) return std::string();
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

}  // namespace

bool parseClientReply(const std::wstring& text, ClientReply& reply) {
    rapidjson::Document document;
    std::string utf8 = utf8FromWide(text);
    if (parseUntrustedJson(document, utf8.c_str(), utf8.size()).IsError() || !document.IsObject()) return false;
    reply.code = stringMember(document, "code");
    reply.errorCode = stringMember(document, "errorCode");
    reply.summary = stringMember(document, "summary");
    reply.var.SetNull();
    auto var = document.FindMember("var");
    if (var != document.MemberEnd() && var->value.IsObject()) reply.var.CopyFrom(var->value, reply.var.GetAllocator());
    return true;
}
