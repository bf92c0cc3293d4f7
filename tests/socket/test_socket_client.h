#pragma once
// A client of the context-menu socket that writes raw bytes, so that tests control every byte of
// a frame, and reads replies frame by frame.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/winsock2.h"

namespace nimbrel::test {

// The text a server published under `shareName`, read as the Explorer extension reads it (up to
// the first NUL); empty when there is none.
std::string publishedRecord(const std::string& shareName);
// The port of that record; 0 when there is none.
int publishedPort(const std::string& shareName);
// The port of the context-menu socket server of the mounted space. The server lives for the rest
// of the process once started, so the first call starts it and later ones answer the same port.
int runningServerPort();

// This process's threads and open descriptors: a server that let go of every connection is back
// at the counts it had before them.
std::size_t threadCount();
std::size_t descriptorCount();

// FF FF FF FF, the length as 32-bit little-endian, the body.
std::string frame(const std::string& body, int declaredLength);
inline std::string frame(const std::string& body) { return frame(body, static_cast<int>(body.size())); }

class SocketClient {
public:
    explicit SocketClient(int port);
    ~SocketClient();
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    bool connected() const { return connected_; }
    bool sendRaw(const std::string& bytes);
    // One reply frame's body; nothing when the server ends the connection first.
    std::optional<std::string> readReply();
    // True when the server ends the connection without sending a byte.
    bool endsWithoutData();
    void close();

private:
    bool receiveExactly(char* buffer, int length);
    SOCKET socket_ = INVALID_SOCKET;
    bool connected_ = false;
};

// One request ("command\r\narguments") on a connection of its own; the reply body, or nothing.
std::optional<std::string> request(int port, const std::string& body);

}  // namespace nimbrel::test
