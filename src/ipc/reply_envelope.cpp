#include "ipc/reply_envelope.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QString>
#include <iostream>

#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kWarn = 3;

// The log prefix names the owner's member ("CServiceIpcManager::onIpcGetResult"), not this file's
// helper, because the envelope is the owner's own answer.
SpdlogStream ownerStream(int level, const char* file, int line, const std::string& owner, const char* member) {
    std::string pretty = owner + "::" + member + "()";
    return std::move(SpdlogBridge::getInstance().stream(level)
                     << nimbrel::logging::linePrefix(file, line, pretty.c_str()));
}

void addString(rapidjson::Document& document, const char* name, const std::string& value) {
    auto& allocator = document.GetAllocator();
    rapidjson::Value key(name, allocator);
    rapidjson::Value text(value.c_str(), static_cast<rapidjson::SizeType>(value.size()), allocator);
    document.AddMember(key, text, allocator);
}

}  // namespace

ReplyEnvelope::ReplyEnvelope(std::string owner) : owner_(std::move(owner)) {}

int ReplyEnvelope::getResult(const std::string& code, const std::string& errorCode, const std::string& summary,
                             rapidjson::Document& document, std::wstring& out) const {
    const bool success = code == kSuccess;
    const bool hasDetail = !errorCode.empty() || !summary.empty();
    const bool hasBothDetails = !errorCode.empty() && !summary.empty();
    if ((success && hasDetail) || (!success && !hasBothDetails)) {
        std::cout << owner_ << "::onIpcGetResult parameter is error., code = " << code << ", errCode = " << errorCode
                  << ", summary = " << summary << std::endl;
        ownerStream(kWarn, __FILE__, __LINE__, owner_, "onIpcGetResult")
            << "parameter is error., code = " << code << ", errCode = " << errorCode << ", summary = " << summary;
        out.clear();
        return -1;
    }
    if (!document.IsObject()) document.SetObject();
    addString(document, "code", code);
    if (!errorCode.empty()) addString(document, "errorCode", errorCode);
    if (!summary.empty()) addString(document, "summary", summary);

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    out = QString::fromUtf8(buffer.GetString(), static_cast<int>(buffer.GetSize())).toStdWString();
    return 0;
}

int ReplyEnvelope::returnSuccess(rapidjson::Document& document, std::wstring& out) const {
    int result = getResult(kSuccess, "", "", document, out);
    if (result != 0) {
        ownerStream(kWarn, __FILE__, __LINE__, owner_, "onIpcReturnSuccess") << "onIpcGetResult return failure.";
    }
    return result;
}

int ReplyEnvelope::returnFailure(const std::string& code, const std::string& errorCode, const std::string& summary,
                                 std::wstring& out, rapidjson::Document& document) const {
    int result = getResult(code, errorCode, summary, document, out);
    if (result != 0) {
        ownerStream(kWarn, __FILE__, __LINE__, owner_, "onIpcReturnFailure") << "onIpcGetResult return failure.";
    }
    return result;
}
