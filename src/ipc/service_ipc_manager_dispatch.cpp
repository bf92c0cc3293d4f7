// Request splitting, the command table's own handlers of the channel, and the reply envelope.
#include <cstdio>
#include <iostream>
#include <mutex>

#include "download/download_task_scheduler.h"
#include "ipc/ipc_text.h"
#include "ipc/logged_text.h"
#include "ipc/service_ipc_manager.h"
#include "ipc/untrusted_json.h"
#include "platform/windows.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kReplyBufferSize = 4096;

std::string stringMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return std::string();
    auto found = object.FindMember(name);
    if (found == object.MemberEnd() || !found->value.IsString()) return std::string();
    return std::string(found->value.GetString(), found->value.GetStringLength());
}

void addString(rapidjson::Document& document, const char* name, const std::string& value) {
    auto& allocator = document.GetAllocator();
    document.AddMember(rapidjson::Value(name, allocator),
                       rapidjson::Value(value.c_str(), static_cast<rapidjson::SizeType>(value.size()), allocator),
                       allocator);
}

}  // namespace

int CServiceIpcManager::OnRequest(const char* ipcName, const std::wstring& text) {
    const std::string name = ipcName ? ipcName : "";
    std::string summary;
    const auto lineBreak = text.find(L"\r\n");
    if (lineBreak == std::wstring::npos) {
        summary = "unkown cmd, not process: " + utf8FromWide(text);
    } else if (lineBreak == 0) {
        summary = "unkown cmd, cmd isEmpty: " + utf8FromWide(text);
    } else {
        auto command = commands_.find(text.substr(0, lineBreak));
        if (command != commands_.end()) return (this->*command->second)(name, text.substr(lineBreak + 2), text);
        summary = "unkown cmd, not found ipc_command: " + utf8FromWide(text);
    }

    const std::string logged = loggedText(summary);
    std::cout << "CServiceIpcManager::OnRequest " << logged << std::endl;
    LOG_WARN << logged;
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnFailure("S_FAIL", "-1", summary, reply, document);
    sendReply(name, reply);
    return -1;
}

int CServiceIpcManager::onIpcGetResult(const std::string& code, const std::string& errorCode,
                                       const std::string& summary, rapidjson::Document& document, std::wstring& out) {
    return envelope_.getResult(code, errorCode, summary, document, out);
}

int CServiceIpcManager::onIpcReturnSuccess(rapidjson::Document& document, std::wstring& out) {
    return envelope_.returnSuccess(document, out);
}

int CServiceIpcManager::onIpcReturnFailure(const std::string& code, const std::string& errorCode,
                                           const std::string& summary, std::wstring& out,
                                           rapidjson::Document& document) {
    return envelope_.returnFailure(code, errorCode, summary, out, document);
}

bool CServiceIpcManager::parseRequestBody(const std::string& ipcName, const std::wstring& body,
                                          rapidjson::Document& parsed, const std::string& failureSummary,
                                          bool requireObject) {
    const std::string utf8 = utf8FromWide(body);
    const rapidjson::ParseResult result = parseUntrustedJson(parsed, utf8.c_str(), utf8.size());
    if (!result.IsError() && (!requireObject || parsed.IsObject())) return true;
    const int parseError = static_cast<int>(result.Code());
    const std::string logged = loggedText(utf8);
    std::cout << "rapidjson::Document::Parse() return failture, body =" << logged << ", error =" << parseError
              << std::endl;
    LOG_WARN << "rapidjson::Document::Parse() return failture,"
             << " body =" << logged << ", error =" << parseError;
    if (!failureSummary.empty()) {
        rapidjson::Document document;
        std::wstring reply;
        onIpcReturnFailure("S_FAIL", "301", failureSummary, reply, document);
        sendReply(ipcName, reply);
    }
    return false;
}

std::string CServiceIpcManager::GenerateGUID() {
    GUID guid{};
    CoCreateGuid(&guid);
    char text[64];
    std::snprintf(text, sizeof(text), "%08lX-%04hX-%04hX-%02hhX%02hhX-%02hhX%02hhX%02hhX%02hhX%02hhX%02hhX",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    LOG_INFO << "Gen UUID =" << text;
    return text;
}

int CServiceIpcManager::newChannel(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed)) return -1;
    // The client may ask for any buffer size; the channel always uses its own.
    rapidjson::Document document;
    document.SetObject();
    auto& allocator = document.GetAllocator();
    const std::string channelName = GenerateGUID();
    rapidjson::Value var(rapidjson::kObjectType);
    var.AddMember("channelName", rapidjson::Value(channelName.c_str(), allocator), allocator);
    var.AddMember("bufferSize", kReplyBufferSize, allocator);
    document.AddMember("var", var, allocator);
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::echoContent(const std::string& ipcName, const std::wstring& body) {
    rapidjson::Document parsed;
    if (!parseRequestBody(ipcName, body, parsed)) return -1;
    rapidjson::Document document;
    document.SetObject();
    addString(document, "content", stringMember(parsed, "content"));
    addString(document, "ipcName", ipcName);
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::getMessage(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    return echoContent(ipcName, body);
}

int CServiceIpcManager::getFileHistoryList(const std::string& ipcName, const std::wstring& body, const std::wstring&) {
    return echoContent(ipcName, body);
}

int CServiceIpcManager::onIpcCheckOnline(const std::string& ipcName, const std::wstring&, const std::wstring&) {
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}

int CServiceIpcManager::cancelTasks(const std::string& ipcName, const std::wstring&, const std::wstring&) {
    {
        std::lock_guard<std::mutex> lock(handlerMutex_);
        CDownloadTaskScheduler::instance().StopAllTask();
    }
    rapidjson::Document document;
    std::wstring reply;
    onIpcReturnSuccess(document, reply);
    sendReply(ipcName, reply);
    return 0;
}
