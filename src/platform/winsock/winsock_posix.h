#pragma once
// The BSD socket calls behind the Winsock stand-in. The types here are plain integers, so this
// header can meet both the Windows declarations (winsock2.h) and the system's socket headers,
// which never meet each other. Failures answer -1 with errno set.

#include <cstddef>
#include <cstdint>

namespace nimbrel::platform::winsock {

// An IPv4 endpoint; both fields in network byte order.
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// Winsock's error code for an errno value.
int wsaErrorFromErrno(int error);

int openStream(int protocol);
int bindTo(int fd, const Endpoint& endpoint);
int listenOn(int fd, int backlog);
int acceptFrom(int fd, Endpoint* peer);
int connectTo(int fd, const Endpoint& endpoint);
long sendBytes(int fd, const char* buffer, std::size_t length);
long receiveBytes(int fd, char* buffer, std::size_t length);
int shutdownSocket(int fd, int how);  // how: 0 receive, 1 send, 2 both
// 0 waits for ever.
int setReceiveTimeout(int fd, unsigned milliseconds);
int closeSocket(int fd);
int localEndpoint(int fd, Endpoint* endpoint);
int peerEndpoint(int fd, Endpoint* endpoint);
// 1 for a dotted IPv4 address (stored in network byte order), 0 otherwise.
int parseIpv4(const char* text, std::uint32_t* address);

}  // namespace nimbrel::platform::winsock
