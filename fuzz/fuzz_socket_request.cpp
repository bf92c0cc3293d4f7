// Raw bytes on a connection to the context-menu socket server, as any local program could send
// them: the frame reader, the request split and every command's arguments.
#include <rapidjson/document.h>

#include <cstdlib>
#include <string>

#include "fuzz_env.h"
#include "host/shared_memory.h"
#include "host/sync_virtual_config.h"
#include "ipc/untrusted_json.h"
#include "platform/winsock2.h"
#include "socket/socket_api.h"
#include "socket/tcp_socket.h"

namespace {

u_short serverPort = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbrel::fuzz::useFreshPlatformFolders();
    createSyncConfig(0);
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
    TcpSocket connection;
    if (!connection.create() || !connection.connect("127.0.0.1", serverPort)) std::abort();
    connection.send(reinterpret_cast<const char*>(data), static_cast<int>(size));
    // The request ends here; the server answers or closes, and the next input starts afresh.
    shutdown(connection.handle(), SD_SEND);
    char reply[4096];
    while (connection.receive(reply, sizeof reply) > 0) {
    }
    connection.close();
    return 0;
}
