#pragma once
// The context-menu socket server: a TCP listener on the loopback address, on a port the system
// chooses and publishes in the mode's shared-memory block so that the suite's Explorer extension
// can find it. Each connection carries one request ("command\r\narguments") and one reply, the
// JSON envelope the IPC channel uses.

#include <rapidjson/document.h>

#include <QString>
#include <QStringList>
#include <map>
#include <string>
#include <vector>

#include "ipc/reply_envelope.h"
#include "socket/tcp_socket.h"

struct ClientFileInfo;

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

    // True when a process with that executable file name runs (the name compared ignoring case).
    static bool isProcessRunning(const QString& executableName);
    // Appends `path` and, when it is a folder, every folder and file below it.
    static void directory2Filelist(const QString& path, QStringList& list);
    // The local work of AlwaysKeepDevice, FreeUpSpace and OnlyOnline, after the reply has gone.
    static void runContextMenuAsync(const std::string& menuCommand, const QStringList& paths);
    // Unpins and dehydrates one item the client knows; true when it goes into the release request.
    static bool canReleaseItem(const ClientFileInfo& record);

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

    int onIpcCheckOnline(TcpSocket client, const std::string& command, const std::string& arguments);
    int onIpcGetContextMenu(TcpSocket client, const std::string& command, const std::string& arguments);
    int onIpcRunContextMenu(TcpSocket client, const std::string& command, const std::string& arguments);

    // Parses the arguments of a menu command and reads its "files"; a text that does not parse, or
    // whose "files" is not an array of strings, is answered with errorCode "301" and false.
    bool parseMenuArguments(TcpSocket& client, const std::string& arguments, rapidjson::Document& parsed,
                            QStringList& files);
    // Send a reply, logged with the connection it goes out on.
    int replySuccess(TcpSocket& client, rapidjson::Document& document);
    int replyFailure(TcpSocket& client, const std::string& errorCode, const std::string& summary);
    int syncDiskMenu(TcpSocket& client, const QStringList& files);
    int mountMenu(TcpSocket& client, const QStringList& files);

    std::string certificatePath_;
    std::string keyPath_;
    std::map<std::string, SocketCommandHandler> commands_;
    TcpSocket listener_;
    ReplyEnvelope envelope_{"SocketApi"};
};

// Start-up: Winsock 2.2, then the server. Always true; failures are reported on the console.
bool startSocketServer();
