#include "socket/test_socket_client.h"

#include <rapidjson/document.h>

#include <filesystem>

#include "host/sync_virtual_config.h"
#include "platform/windows.h"
#include "socket/socket_api.h"

namespace nimbrel::test {

std::string publishedRecord(const std::string& shareName) {
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, shareName.c_str());
    if (!section) return std::string();
    const char* view = static_cast<const char*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
    std::string text = view ? std::string(view) : std::string();
    if (view) UnmapViewOfFile(view);
    CloseHandle(section);
    return text;
}

int publishedPort(const std::string& shareName) {
    rapidjson::Document record;
    record.Parse(publishedRecord(shareName).c_str());
    if (record.HasParseError() || !record.IsObject() || !record.HasMember("serverport") ||
        !record["serverport"].IsInt()) {
        return 0;
    }
    return record["serverport"].GetInt();
}

namespace {

std::size_t entriesOf(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

}  // namespace

std::size_t threadCount() { return entriesOf("/proc/self/task"); }
std::size_t descriptorCount() { return entriesOf("/proc/self/fd"); }

int runningServerPort() {
    static const int port = [] {
        createSyncConfig(0);
        startSocketServer();
        return publishedPort("_SocketApi_tcp_");
    }();
    return port;
}

std::string frame(const std::string& body, int declaredLength) {
    std::string bytes("\xFF\xFF\xFF\xFF", 4);
    const auto length = static_cast<std::uint32_t>(declaredLength);
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes + body;
}

SocketClient::SocketClient(int port) {
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<u_short>(port));
    inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
}

SocketClient::~SocketClient() { close(); }

bool SocketClient::sendRaw(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int count = send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (count == SOCKET_ERROR) return false;
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

bool SocketClient::receiveExactly(char* buffer, int length) {
    int received = 0;
    while (received < length) {
        int count = recv(socket_, buffer + received, length - received, 0);
        if (count <= 0) return false;
        received += count;
    }
    return true;
}

std::optional<std::string> SocketClient::readReply() {
    unsigned char header[8];
    if (!receiveExactly(reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    if (header[0] != 0xFF || header[1] != 0xFF || header[2] != 0xFF || header[3] != 0xFF) return std::nullopt;
    const std::uint32_t length =
        header[4] | (header[5] << 8) | (header[6] << 16) | (static_cast<std::uint32_t>(header[7]) << 24);
    std::string body(length, '\0');
    if (!receiveExactly(body.data(), static_cast<int>(length))) return std::nullopt;
    return body;
}

bool SocketClient::endsWithoutData() {
    char byte;
    return recv(socket_, &byte, 1, 0) <= 0;
}

void SocketClient::close() {
    if (socket_ == INVALID_SOCKET) return;
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

std::optional<std::string> request(int port, const std::string& body) {
    SocketClient client(port);
    if (!client.connected() || !client.sendRaw(frame(body))) return std::nullopt;
    return client.readReply();
}

}  // namespace nimbrel::test
