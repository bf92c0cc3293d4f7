// nimbrel-menu: does what the suite's Explorer context-menu extension does, from a terminal.
//
//   nimbrel-menu --mode N port              the port the server of mode N published
//   nimbrel-menu --mode N CMD [JSON]        one request; prints the reply body on one line
//
// The port is read from the mode's shared-memory block as the extension reads it (open by name,
// map, stop at the first NUL); the request is one frame on a connection of its own.
#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "host/sync_virtual_config.h"
#include "ipc/untrusted_json.h"
#include "platform/windows.h"
#include "platform/winsock2.h"
#include "socket/socket_frame.h"
#include "socket/tcp_socket.h"

namespace {

constexpr std::size_t kSectionSize = 1000;

enum ExitCode { kOk = 0, kUsage = 1, kNoServer = 2, kUnreachable = 3, kNoReply = 4 };

int usage() {
    std::cerr << "usage: nimbrel-menu --mode N port\n"
                 "       nimbrel-menu --mode N CMD [JSON]\n"
                 "N is 0 (ZedoziZevoro) or 1 (RoziDavidoVodido).\n";
    return kUsage;
}

// The text of the section up to its first NUL; nothing when no process holds the section.
std::optional<std::string> readSection(const std::string& name) {
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (!section) return std::nullopt;
    const char* view = static_cast<const char*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
    std::optional<std::string> text;
    if (view) {
        text = std::string(view, strnlen(view, kSectionSize));
        UnmapViewOfFile(view);
    }
    CloseHandle(section);
    return text;
}

// The port of {"serverport":N}; 0 when the text is no such record.
int portOfRecord(const std::string& text) {
    rapidjson::Document record;
    if (parseUntrustedJson(record, text.c_str(), text.size()).IsError() || !record.IsObject()) return 0;
    auto port = record.FindMember("serverport");
    if (port == record.MemberEnd() || !port->value.IsInt()) return 0;
    return port->value.GetInt();
}

int sendRequest(int mode, int port, const std::string& body) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    TcpSocket connection;
    if (!connection.create() || !connection.connect("127.0.0.1", static_cast<u_short>(port))) {
        std::cerr << "nimbrel-menu: cannot reach the server of mode " << mode << " at 127.0.0.1:" << port
                  << " (Winsock error " << WSAGetLastError() << ")\n";
        connection.close();
        return kUnreachable;
    }
    std::string reply;
    const bool answered = writeFrame(connection, body) == 0 && readFrame(connection, reply);
    connection.close();
    WSACleanup();
    if (!answered) {
        std::cerr << "nimbrel-menu: the server of mode " << mode << " closed the connection without a reply\n";
        return kNoReply;
    }
    std::cout << reply << std::endl;
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[1], "--mode") != 0 || argc > 5) return usage();
    char* end = nullptr;
    const long mode = std::strtol(argv[2], &end, 10);
    CSyncVirtualConfig* config = *end == '\0' ? createSyncConfig(static_cast<int>(mode)) : nullptr;
    if (!config) return usage();

    const std::string shareName = config->socketShareName().toStdString();
    const std::optional<std::string> record = readSection(shareName);
    const int port = record ? portOfRecord(*record) : 0;
    if (port <= 0) {
        std::cerr << "nimbrel-menu: no server of mode " << mode << " has published a port under \"" << shareName
                  << "\"\n";
        return kNoServer;
    }

    const std::string command = argv[3];
    if (command == "port" && argc == 4) {
        std::cout << port << std::endl;
        return kOk;
    }
    return sendRequest(static_cast<int>(mode), port, command + "\r\n" + (argc == 5 ? argv[4] : ""));
}
