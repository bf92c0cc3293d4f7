// nimbrel-menu: does what the suite's Explorer context-menu extension does, from a terminal.
//
//   nimbrel-menu --mode N port                      the port the server of mode N published
//   nimbrel-menu --mode N [--json] show PATH...     the menu Explorer would show for the selection
//   nimbrel-menu --mode N [--json] run CMD PATH...  runs the entry CMD on the selection
//   nimbrel-menu --mode N CMD [JSON]                one request; prints the reply body on one line
//
// The port is read from the mode's shared-memory block as the extension reads it (open by name,
// map, stop at the first NUL); the request is one frame on a connection of its own. Selected
// paths are sent as Explorer sends them: absolute, with Windows separators.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "host/sync_virtual_config.h"
#include "ipc/untrusted_json.h"
#include "menu_view.h"
#include "platform/windows.h"
#include "platform/winsock2.h"
#include "socket/socket_frame.h"
#include "socket/tcp_socket.h"

namespace {

constexpr std::size_t kSectionSize = 1000;

enum ExitCode { kOk = 0, kUsage = 1, kNoServer = 2, kUnreachable = 3, kNoReply = 4, kRefused = 5 };

int usage() {
    std::cerr << "usage: nimbrel-menu --mode N port\n"
                 "       nimbrel-menu --mode N [--json] show PATH...\n"
                 "       nimbrel-menu --mode N [--json] run COMMAND PATH...\n"
                 "       nimbrel-menu --mode N CMD [JSON]\n"
                 "N is 0 (ZedoziZevoro) or 1 (RoziDavidoVodido).\n";
    return kUsage;
}

// {"menuCommand":..., "files":[...]} with each path absolute and in Windows form.
std::string menuArguments(const std::string& command, const std::vector<std::string>& paths) {
    rapidjson::Document body(rapidjson::kObjectType);
    auto& allocator = body.GetAllocator();
    if (!command.empty()) body.AddMember("menuCommand", rapidjson::Value(command.c_str(), allocator), allocator);
    rapidjson::Value files(rapidjson::kArrayType);
    for (const auto& path : paths) {
        std::string native = std::filesystem::absolute(path).lexically_normal().string();
        if (native.size() > 1 && native.back() == '/') native.pop_back();
        for (char& c : native) c = c == '/' ? '\\' : c;
        files.PushBack(rapidjson::Value(native.c_str(), allocator), allocator);
    }
    body.AddMember("files", files, allocator);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    body.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
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

// Sends one request; the reply body in `reply`, or an exit code other than kOk.
int sendRequest(int mode, int port, const std::string& body, std::string& reply) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    TcpSocket connection;
    if (!connection.create() || !connection.connect("127.0.0.1", static_cast<u_short>(port))) {
        std::cerr << "nimbrel-menu: cannot reach the server of mode " << mode << " at 127.0.0.1:" << port
                  << " (Winsock error " << WSAGetLastError() << ")\n";
        connection.close();
        return kUnreachable;
    }
    const bool answered = writeFrame(connection, body) == 0 && readFrame(connection, reply);
    connection.close();
    WSACleanup();
    if (!answered) {
        std::cerr << "nimbrel-menu: the server of mode " << mode << " closed the connection without a reply\n";
        return kNoReply;
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool json = false;
    for (auto arg = args.begin(); arg != args.end(); ++arg) {
        if (*arg == "--json") {
            json = true;
            args.erase(arg);
            break;
        }
    }
    if (args.size() < 3 || args[0] != "--mode") return usage();
    char* end = nullptr;
    const long mode = std::strtol(args[1].c_str(), &end, 10);
    CSyncVirtualConfig* config = *end == '\0' ? createSyncConfig(static_cast<int>(mode)) : nullptr;
    const std::string command = args[2];
    const std::vector<std::string> rest(args.begin() + 3, args.end());
    const bool menuAction = command == "show" || (command == "run" && !rest.empty());
    if (!config || (!menuAction && rest.size() > 1)) return usage();

    const std::string shareName = config->socketShareName().toStdString();
    const std::optional<std::string> record = readSection(shareName);
    const int port = record ? portOfRecord(*record) : 0;
    if (port <= 0) {
        std::cerr << "nimbrel-menu: no server of mode " << mode << " has published a port under \"" << shareName
                  << "\"\n";
        return kNoServer;
    }
    if (command == "port" && rest.empty()) {
        std::cout << port << std::endl;
        return kOk;
    }

    std::string body = command + "\r\n" + (rest.empty() ? "" : rest[0]);
    const std::vector<std::string> paths(rest.begin() + (command == "run" ? 1 : 0), rest.end());
    if (command == "show") body = "getContextMenu\r\n" + menuArguments("", paths);
    if (command == "run" && menuAction) body = "runContextMenu\r\n" + menuArguments(rest[0], paths);
    std::string reply;
    if (const int failed = sendRequest(static_cast<int>(mode), port, body, reply); failed != kOk) return failed;
    if (json || !menuAction) {
        std::cout << reply << std::endl;
        return kOk;
    }
    bool accepted = false;
    std::cout << (command == "show" ? menuView(reply, accepted) : runView(reply, rest[0], paths.size(), accepted));
    return accepted ? kOk : kRefused;
}
