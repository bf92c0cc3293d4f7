#include "socket/socket_frame.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned char kMarker[4] = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::size_t kReceiveChunk = 16 * 1024;

std::int32_t littleEndian32(const unsigned char* bytes) {
    std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                          (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

// The marker and the length each come in one receive: a header split across two receives is a
// malformed request.
bool receiveHeaderField(TcpSocket& socket, unsigned char (&field)[4]) {
    return socket.receive(reinterpret_cast<char*>(field), sizeof field) == static_cast<int>(sizeof field);
}

}  // namespace

bool readFrame(TcpSocket& socket, std::string& body) {
    unsigned char marker[4];
    if (!receiveHeaderField(socket, marker) || std::memcmp(marker, kMarker, sizeof marker) != 0) return false;
    unsigned char lengthBytes[4];
    if (!receiveHeaderField(socket, lengthBytes)) return false;
    const std::int32_t length = littleEndian32(lengthBytes);
    if (length < 0 || length > kMaxFrameBody) return false;

    // The buffer grows with the bytes that arrive: a header alone must not cost the claimed length.
    std::string buffer;
    char chunk[kReceiveChunk];
    while (buffer.size() < static_cast<std::size_t>(length)) {
        const std::size_t missing = static_cast<std::size_t>(length) - buffer.size();
        const int count = socket.receive(chunk, static_cast<int>(std::min(missing, sizeof chunk)));
        if (count <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(count));
    }
    body = std::move(buffer);
    return true;
}

int writeFrame(TcpSocket& socket, const std::string& body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(reinterpret_cast<const char*>(kMarker), sizeof kMarker);
    for (int shift = 0; shift < 32; shift += 8) frame += static_cast<char>((length >> shift) & 0xFF);
    frame += body;

    std::size_t sent = 0;
    while (sent < frame.size()) {
        int count = socket.send(frame.data() + sent, static_cast<int>(frame.size() - sent));
        if (count == SOCKET_ERROR) return -1;
        sent += static_cast<std::size_t>(count);
    }
    return 0;
}
