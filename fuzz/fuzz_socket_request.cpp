// Raw bytes on a connection to the context-menu socket server, as any local program could send
// them: the frame reader, the request split and every command's arguments. The context-menu
// commands walk the folders they are given, so every path in a request's "files" is first moved
// below this run's own folder; everything else reaches the server byte for byte.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "fuzz_client_process.h"
#include "fuzz_env.h"
#include "host/shared_memory.h"
#include "ipc/untrusted_json.h"
#include "platform/winsock2.h"
#include "socket/socket_api.h"
#include "socket/tcp_socket.h"

namespace {

constexpr std::size_t kHeaderSize = 8;

u_short serverPort = 0;

std::string selectionFolder() { return std::string(std::getenv("TMPDIR")) + "/selection"; }

enum class Confined { kUnchanged, kMoved, kRefused };

// Moves every string of every "files" array below the selection folder.
Confined confineFiles(rapidjson::Document& arguments) {
    Confined result = Confined::kUnchanged;
    if (!arguments.IsObject()) return result;
    for (auto& member : arguments.GetObject()) {
        if (std::strcmp(member.name.GetString(), "files") != 0 || !member.value.IsArray()) continue;
        for (auto& path : member.value.GetArray()) {
            if (!path.IsString()) continue;
            const std::string text(path.GetString(), path.GetStringLength());
            if (text.find("..") != std::string::npos) return Confined::kRefused;
            const std::string confined = selectionFolder() + "/" + text;
            path.SetString(confined.c_str(), static_cast<rapidjson::SizeType>(confined.size()),
                           arguments.GetAllocator());
            result = Confined::kMoved;
        }
    }
    return result;
}

// The input with the paths of its one complete frame confined and the length field matching the
// new body; inputs whose frame is incomplete or whose arguments are no JSON go unchanged (the server
// refuses them before it looks at a path), and so do those without a path. False when a path
// cannot be confined.
bool confineRequest(std::string& input) {
    if (input.size() < kHeaderSize) return true;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(input[4 + i])) << (8 * i);
    if (length > input.size() - kHeaderSize) return true;
    const std::string body = input.substr(kHeaderSize, length);
    const std::size_t separator = body.find("\r\n");
    if (separator == std::string::npos) return true;
    const std::string argumentText = body.substr(separator + 2);
    rapidjson::Document arguments;
    if (parseUntrustedJson(arguments, argumentText.c_str(), argumentText.size()).IsError()) return true;
    const Confined confined = confineFiles(arguments);
    if (confined != Confined::kMoved) return confined == Confined::kUnchanged;
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    arguments.Accept(writer);
    const std::string confinedBody = body.substr(0, separator + 2) + buffer.GetString();
    std::string header = input.substr(0, 4);
    for (int shift = 0; shift < 32; shift += 8) header += static_cast<char>((confinedBody.size() >> shift) & 0xFF);
    input = header + confinedBody + input.substr(kHeaderSize + length);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    becomeOwnMainClient(*argv);
    // A small tree to walk, so a selection below it reaches the folder expansion.
    std::filesystem::create_directories(selectionFolder() + "/folder/inner");
    std::ofstream(selectionFolder() + "/folder/a.txt") << "a";
    startSocketServer();
    std::string record;
    rapidjson::Document port;
    if (!SharedMemory::instance().read("_SocketApi_tcp_", record) ||
        parseUntrustedJson(port, record.c_str(), record.size()).IsError() || !port.IsObject() ||
        !port.HasMember("serverport") || !port["serverport"].IsInt()) {
        std::abort();
    }
    serverPort = static_cast<u_short>(port["serverport"].GetInt());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string request = nimbrel::fuzz::text(data, size);
    if (!confineRequest(request)) return 0;
    const std::set<long> threadsBefore = nimbrel::fuzz::threadIds();
    TcpSocket connection;
    if (!connection.create() || !connection.connect("127.0.0.1", serverPort)) std::abort();
    connection.send(request.data(), static_cast<int>(request.size()));
    // The request ends here; the server answers or closes, and the next input starts afresh.
    shutdown(connection.handle(), SD_SEND);
    char reply[4096];
    while (connection.receive(reply, sizeof reply) > 0) {
    }
    connection.close();
    // The connection's thread may still be freeing the request.
    nimbrel::fuzz::awaitThreadsStartedSince(threadsBefore);
    return 0;
}
