#pragma once
// The context-menu socket server: a TCP listener on the loopback address, on a port the system
// chooses and publishes in the mode's shared-memory block so that the suite's Explorer extension
// can find it. Each connection carries one request ("command\r\narguments") and one reply, the
// JSON envelope the IPC channel uses.

#include <rapidjson/document.h>

#include <map>
#include <string>

#include "ipc/reply_envelope.h"
#include "socket/tcp_socket.h"

class SocketApi {
public:
    // Created, and started, on first use; lives until the process ends.
    static SocketApi& instance();
    virtual ~SocketApi();
    SocketApi(const SocketApi&) = delete;
    SocketApi& operator=(const SocketApi&) = delete;

    // The envelope helpers every handler answers through; `out` is the UTF-8 reply body.
    int onIpcGetResult(const std::string& code, const std::string& errorCode, const std::string& summary,
                       rapidjson::Document& document, std::string& out);
    int onIpcReturnSuccess(rapidjson::Document& document, std::string& out);
    int onIpcReturnFailure(const std::string& code, const std::string& errorCode, const std::string& summary,
                           std::string& out, rapidjson::Document& document);

    // Where the host executable's certificate and key were written at start.
    const std::string& certificatePath() const { return certificatePath_; }
    const std::string& keyPath() const { return keyPath_; }

private:
    // A command handler sends its own reply on the client socket before it returns.
    using SocketCommandHandler = int (SocketApi::*)(TcpSocket client, const std::string& command,
                                                    const std::string& arguments);

    SocketApi();
    void extractCertificate();
    void publishPort(int port);
    // Serves until the process ends.
    void acceptLoop();
    void serveConnection(TcpSocket client);
    void replyUnknownCommand(TcpSocket& client, const std::string& summary);

    int onIpcCheckOnline(TcpSocket client, const std::string& command, const std::string& arguments);

    std::string certificatePath_;
    std::string keyPath_;
    std::map<std::string, SocketCommandHandler> commands_;
    TcpSocket listener_;
    ReplyEnvelope envelope_{"SocketApi"};
};

// Start-up: Winsock 2.2, then the server. Always true; failures are reported on the console.
bool startSocketServer();
