#include "send_command.h"

#include <rapidjson/document.h>

#include <QString>
#include <iostream>

#include "host/sync_virtual_config.h"
#include "ipc_module_loader.h"

namespace {

// A one-shot requester answers nothing: it only sends.
class NoRequests : public IRequestNotify {
public:
    int OnRequest(const char*, const std::wstring&) override { return -1; }
};

std::string describeFailure(int result, const std::string& channel, int mode) {
    switch (result) {
        case kIpcRequestPeerGone:
            return "nothing listens on channel " + channel + " (is the Nimbrel server of mode " + std::to_string(mode) +
                   " running?)";
        case kIpcRequestTimedOut:
            return "the server did not answer in time";
        case kIpcRequestNoReply:
            return "the server closed the request without a reply";
        default:
            return "the request failed (" + std::to_string(result) + ")";
    }
}

// The reason a reply gives when its code is S_FAIL; nothing for any other reply.
std::string failureOf(const std::string& reply) {
    rapidjson::Document document;
    document.Parse(reply.c_str(), reply.size());
    if (!document.IsObject()) return std::string();
    auto text = [&](const char* name) {
        auto found = document.FindMember(name);
        return found != document.MemberEnd() && found->value.IsString() ? std::string(found->value.GetString())
                                                                        : std::string();
    };
    if (text("code") != "S_FAIL") return std::string();
    const std::string summary = text("summary");
    const std::string code = text("errorCode");
    if (!summary.empty() || !code.empty()) {
        return (summary.empty() ? std::string("the server refused it") : summary) + " (errorCode " + code + ")";
    }
    // A push answers item by item: which of them were refused.
    auto items = document.FindMember("fileInfo");
    if (items == document.MemberEnd() || !items->value.IsArray()) return "the server refused it";
    int refused = 0;
    std::string first;
    for (const auto& item : items->value.GetArray()) {
        if (!item.IsObject() || !item.HasMember("ret") || !item["ret"].IsInt() || item["ret"].GetInt() == 0) continue;
        if (++refused == 1 && item.HasMember("filePath") && item["filePath"].IsString()) {
            first = std::string(", first ") + item["filePath"].GetString() + " (ret " +
                    std::to_string(item["ret"].GetInt()) + ")";
        }
    }
    return std::to_string(refused) + " of " + std::to_string(items->value.Size()) + " items refused" + first;
}

}  // namespace

int runSend(const ClientOptions& options, CSyncVirtualConfig& config) {
    static NoRequests receiver;
    std::string error;
    IIpcInterface* channel = createIpcChannel(&receiver, error);
    if (!channel) {
        std::cerr << "nimbrel-mainclient: " << error << std::endl;
        return 1;
    }
    const std::string serverChannel = config.pluginServiceChannel().toStdString();
    channel->start("", serverChannel.c_str());

    const std::wstring text = QString::fromStdString(options.command + "\r\n" + options.body).toStdWString();
    std::wstring reply;
    int result = channel->request(text, reply);
    const std::string request = options.command + (options.subject.empty() ? "" : " " + options.subject);
    if (result != kIpcRequestOk) {
        std::cerr << "nimbrel-mainclient: no reply to " << request << ": "
                  << describeFailure(result, serverChannel, options.mode) << std::endl;
        return 1;
    }
    const std::string answer = QString::fromStdWString(reply).toStdString();
    std::cout << answer << std::endl;
    const std::string failure = failureOf(answer);
    if (failure.empty()) return 0;
    std::cerr << "nimbrel-mainclient: " << request << " failed: " << failure << std::endl;
    return 1;
}
