// The reply envelope on the socket: the IPC channel's envelope, sent as UTF-8.
#include <QString>

#include "socket/socket_api.h"

namespace {

std::string utf8(const std::wstring& text) { return QString::fromStdWString(text).toStdString(); }

}  // namespace

int SocketApi::onIpcGetResult(const std::string& code, const std::string& errorCode, const std::string& summary,
                              rapidjson::Document& document, std::string& out) {
    std::wstring text;
    if (envelope_.getResult(code, errorCode, summary, document, text) != 0) return -1;
    out = utf8(text);
    return 0;
}

int SocketApi::onIpcReturnSuccess(rapidjson::Document& document, std::string& out) {
    std::wstring text;
    if (envelope_.returnSuccess(document, text) != 0) return -1;
    out = utf8(text);
    return 0;
}

int SocketApi::onIpcReturnFailure(const std::string& code, const std::string& errorCode, const std::string& summary,
                                  std::string& out, rapidjson::Document& document) {
    std::wstring text;
    if (envelope_.returnFailure(code, errorCode, summary, text, document) != 0) return -1;
    out = utf8(text);
    return 0;
}
