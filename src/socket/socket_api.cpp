#include "socket/socket_api.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "host/shared_memory.h"
#include "host/sync_virtual_config.h"
#include "ipc/logged_text.h"
#include "socket/detached_thread.h"
#include "socket/socket_frame.h"
#include "socket/socket_peer.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr char kRequestSeparator[] = "\r\n";
constexpr DWORD kDefaultIdleLimitMs = 30000;

// NIMBREL_SOCKET_IDLE_MS (test-only) shortens the time a connection may stay silent.
DWORD idleLimitMs() {
    const char* value = std::getenv("NIMBREL_SOCKET_IDLE_MS");
    const long parsed = value ? std::strtol(value, nullptr, 10) : 0;
    return parsed > 0 ? static_cast<DWORD>(parsed) : kDefaultIdleLimitMs;
}

}  // namespace

SocketApi& SocketApi::instance() {
    // Kept until the process is gone: connection threads may still be serving while it exits.
    static auto* api = new SocketApi;
    return *api;
}

SocketApi::SocketApi() {
    if (!listener_.create()) std::cout << "#socket create error = " << WSAGetLastError() << std::endl;

    commands_["checkOnline"] = &SocketApi::onIpcCheckOnline;
    commands_["getContextMenu"] = &SocketApi::onIpcGetContextMenu;
    commands_["runContextMenu"] = &SocketApi::onIpcRunContextMenu;

    extractCertificate();

    // Port 0: the system picks a free port, which is then published for the extension.
    if (!listener_.bind(kLoopback, 0)) std::cout << "#socket bind error = " << WSAGetLastError() << std::endl;
    if (!listener_.listen(SOMAXCONN)) std::cout << "#socket listen error = " << WSAGetLastError() << std::endl;

    const int port = listener_.localPort();
    std::printf("socket = %d, bind port = %d\n", static_cast<int>(listener_.handle()), port);
    std::fflush(stdout);
    publishPort(port);

    startDetachedThread([this] { acceptLoop(); });
}

SocketApi::~SocketApi() {
    listener_.close();
    WSACleanup();
}

void SocketApi::publishPort(int port) {
    rapidjson::Document record(rapidjson::kObjectType);
    record.AddMember("serverport", port, record.GetAllocator());
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    record.Accept(writer);
    const std::string shareName = syncConfig()->socketShareName().toStdString();
    SharedMemory::instance().write(shareName, std::string(buffer.GetString(), buffer.GetSize()));
}

void SocketApi::acceptLoop() {
    // The loop's own copy: the destructor closes and forgets listener_ at process exit while this
    // thread may still be running.
    TcpSocket listener = listener_;
    for (;;) {
        TcpSocket client = listener.accept();
        if (!client.isValid()) {
            const int error = WSAGetLastError();
            std::cout << "#socket accept error = " << error << std::endl;
            // No listener any more (never created, or closed at exit): nothing will ever be accepted.
            if (error == WSAENOTSOCK || error == WSANOTINITIALISED) return;
            continue;
        }
        // A connection no thread could be started for is dropped, not left open.
        if (startDetachedThread([this, client] { serveConnection(client); }) == kThreadStartFailed) client.close();
    }
}

void SocketApi::serveConnection(TcpSocket client) {
    // The loopback port is open to every local user; only this user's processes are served.
    if (!peerIsSameUser(client)) {
        LOG_WARN << "onchannel = " << static_cast<unsigned long long>(client.handle()) << ":" << client.peerPort()
                 << ", closed: the peer process runs as another user";
        client.close();
        return;
    }
    // A connection that sends nothing must not hold its thread for ever.
    const DWORD idleLimit = idleLimitMs();
    client.setReceiveTimeout(idleLimit);
    WSASetLastError(0);
    std::string body;
    if (!readFrame(client, body)) {
        if (WSAGetLastError() == WSAETIMEDOUT) {
            LOG_WARN << "onchannel = " << static_cast<unsigned long long>(client.handle()) << ":" << client.peerPort()
                     << ", closed: silent for " << idleLimit << " ms";
        }
        client.close();
        return;
    }
    const std::size_t separator = body.find(kRequestSeparator);
    if (separator == std::string::npos) {
        replyFailure(client, "-1", "unkown cmd, not process: " + body);
    } else if (separator == 0) {
        replyFailure(client, "-1", "unkown cmd, cmd isEmpty: " + body);
    } else {
        const std::string command = body.substr(0, separator);
        auto handler = commands_.find(command);
        if (handler == commands_.end()) {
            replyFailure(client, "-1", "unkown cmd, not found ipc_command: " + body);
        } else {
            (this->*handler->second)(client, command, body.substr(separator + 2));
        }
    }
    client.close();
}

int SocketApi::replySuccess(TcpSocket& client, rapidjson::Document& document) {
    std::string reply;
    onIpcReturnSuccess(document, reply);
    const std::string logged = loggedText(reply);
    std::cout << "onchannel = " << client.handle() << ":" << client.peerPort() << ", response = " << logged
              << std::endl;
    LOG_INFO << "onchannel = " << static_cast<unsigned long long>(client.handle()) << ":" << client.peerPort()
             << ", response = " << logged;
    return writeFrame(client, reply);
}

int SocketApi::replyFailure(TcpSocket& client, const std::string& errorCode, const std::string& summary) {
    rapidjson::Document document(rapidjson::kObjectType);
    std::string reply;
    onIpcReturnFailure(ReplyEnvelope::kFailure, errorCode, summary, reply, document);
    const std::string logged = loggedText(reply);
    std::cout << "onchannel = " << client.handle() << ":" << client.peerPort() << ", response = " << logged
              << std::endl;
    LOG_WARN << "onchannel = " << static_cast<unsigned long long>(client.handle()) << ":" << client.peerPort()
             << ", response = " << logged;
    return writeFrame(client, reply);
}

int SocketApi::onIpcCheckOnline(TcpSocket client, const std::string&, const std::string&) {
    rapidjson::Document document(rapidjson::kObjectType);
    std::string reply;
    onIpcReturnSuccess(document, reply);
    return writeFrame(client, reply);
}

bool startSocketServer() {
    WSADATA data;
    int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0) std::cout << "#socket WSAStartup error = " << result << std::endl;
    SocketApi::instance();
    return true;
}
