#include "client_receiver.h"

#include <QString>
#include <iostream>

namespace {

std::string utf8(const std::wstring& text) { return QString::fromStdWString(text).toStdString(); }

// A request or answer naming thousands of paths is shown by its start and its length.
std::string shortened(const std::string& text) {
    constexpr std::size_t kShown = 2000;
    if (text.size() <= kShown) return text;
    return text.substr(0, kShown) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

ClientReceiver::ClientReceiver(const ClientOptions& options) : options_(options) {}

void ClientReceiver::log(const std::string& line) {
    std::lock_guard<std::mutex> lock(outputMutex_);
    std::cout << line << std::endl;
}

int ClientReceiver::OnRequest(const char* ipcName, const std::wstring& text) {
    const auto lineBreak = text.find(L"\r\n");
    const std::string command = utf8(text.substr(0, lineBreak));
    const std::string body = lineBreak == std::wstring::npos ? std::string() : utf8(text.substr(lineBreak + 2));
    log("request " + command + " " + shortened(body));
    if (options_.silent) return 0;

    const std::wstring reply = answer(command, body);
    if (channel_->reply(ipcName, reply) != 0) {
        log("reply " + command + " not delivered");
        return -1;
    }
    log("answered " + command + " " + shortened(utf8(reply)));
    return 0;
}

std::wstring ClientReceiver::answer(const std::string& command, const std::string& body) {
    if (command == "checkOnline") return checkOnlineReply();
    if (command == "getDownloadMetadata" && content_) return content_->metadataReply(body);
    std::wstring reply;
    if (command == "pushOnline") ++announcements_;
    if (menu_ && menu_->answer(command, body, reply)) return reply;
    rapidjson::Document document;
    if (command == "pushOnline" || command == "hardLinkRepairStarted" || command == "hardLinkRepairFinished") {
        envelope_.returnSuccess(document, reply);
    } else {
        envelope_.returnFailure(ReplyEnvelope::kFailure, "-1", "nimbrel-mainclient does not handle " + command, reply,
                                document);
    }
    return reply;
}

std::wstring ClientReceiver::checkOnlineReply() {
    rapidjson::Document document;
    document.SetObject();
    if (options_.withRuntimeState) {
        auto& allocator = document.GetAllocator();
        rapidjson::Value state(rapidjson::kObjectType);
        state.AddMember("loggedIn", options_.loggedIn, allocator);
        state.AddMember("contextMenuAllowed", options_.contextMenuAllowed, allocator);
        state.AddMember("status", options_.status, allocator);
        state.AddMember("reason", options_.reason, allocator);
        document.AddMember("var", state, allocator);
    }
    std::wstring reply;
    envelope_.returnSuccess(document, reply);
    return reply;
}
