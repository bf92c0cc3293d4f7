// nimbrel-menu: does what the suite's Explorer context-menu extension does, from a terminal.
//
//   nimbrel-menu --mode N port                      the port the server of mode N published
//   nimbrel-menu --mode N [--json] show PATH...     the menu Explorer would show for the selection
//   nimbrel-menu --mode N [--json] run CMD PATH...  runs the entry CMD on the selection
//   nimbrel-menu --mode N CMD [JSON | @FILE | -]   one request; prints the reply body on one line
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

#include "body_argument.h"
#include "host/sync_virtual_config.h"
#include "ipc/untrusted_json.h"
#include "menu_view.h"
#include "platform/windows.h"
#include "platform/winsock2.h"
#include "socket/socket_frame.h"
#include "socket/tcp_socket.h"

namespace {

constexpr std::size_t kSectionSize = 1000;

// 2 is a command line the tool cannot use, as for every tool of the suite.
enum ExitCode { kOk = 0, kNoServer = 1, kUsage = 2, kUnreachable = 3, kNoReply = 4, kRefused = 5 };

const char kUsageText[] =
    "usage: nimbrel-menu --mode N port                       the port the server of mode N published\n"
    "       nimbrel-menu --mode N [--json] show PATH...      the menu Explorer would show for the selection\n"
    "       nimbrel-menu --mode N [--json] run COMMAND PATH...  runs the entry COMMAND on the selection\n"
    "       nimbrel-menu --mode N CMD [JSON | @FILE | -]     one request, its body the argument, FILE's content\n"
    "                                                        or standard input; prints the reply\n"
    "       nimbrel-menu --help | -h\n"
    "N is 0 (ZedoziZevoro) or 1 (RoziDavidoVodido). Exit codes: 1 no server published a port, 2 usage,\n"
    "3 the server cannot be reached, 4 no reply, 5 the server refused (code S_FAIL).\n";

int usageError(const std::string& problem) {
    std::cerr << "nimbrel-menu: " << problem << " (see nimbrel-menu --help)\n";
    return kUsage;
}

bool refused(const std::string& reply) {
    rapidjson::Document document;
    if (parseUntrustedJson(document, reply.c_str(), reply.size()).IsError() || !document.IsObject()) return false;
    auto code = document.FindMember("code");
    return code != document.MemberEnd() && code->value.IsString() && std::string(code->value.GetString()) == "S_FAIL";
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
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsageText;
            return kOk;
        }
    }
    bool json = false;
    for (auto arg = args.begin(); arg != args.end(); ++arg) {
        if (*arg == "--json") {
            json = true;
            args.erase(arg);
            break;
        }
    }
    if (args.empty()) return usageError("missing --mode N");
    if (args[0] != "--mode") return usageError("expected --mode N, not " + args[0]);
    if (args.size() < 3) return usageError("missing command");
    char* end = nullptr;
    const long mode = std::strtol(args[1].c_str(), &end, 10);
    CSyncVirtualConfig* config = *end == '\0' ? createSyncConfig(static_cast<int>(mode)) : nullptr;
    if (!config) return usageError("--mode must be 0 or 1");
    const std::string command = args[2];
    std::vector<std::string> rest(args.begin() + 3, args.end());
    const bool menuAction = command == "show" || (command == "run" && !rest.empty());
    if (command[0] == '-') return usageError("unknown option " + command);
    if (!menuAction && rest.size() > 1) return usageError(command + " takes one body");
    if (!menuAction && rest.size() == 1) {
        std::string body;
        std::string error;
        if (!readBodyArgument(rest[0], body, error)) return usageError(error);
        rest[0] = body;
    }

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
        return refused(reply) ? kRefused : kOk;
    }
    bool accepted = false;
    std::cout << (command == "show" ? menuView(reply, accepted) : runView(reply, rest[0], paths.size(), accepted));
    return accepted ? kOk : kRefused;
}
