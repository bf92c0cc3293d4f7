#include "winsock_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nimbrel::platform::winsock {

namespace {

sockaddr_in toSockaddr(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = endpoint.port;
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

// Only IPv4 sockets exist in the stand-in, so every address read back is a sockaddr_in.
using NameQuery = int (*)(int, sockaddr*, socklen_t*);

int queryEndpoint(NameQuery query, int fd, Endpoint* endpoint) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (query(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    endpoint->address = address.sin_addr.s_addr;
    endpoint->port = address.sin_port;
    return 0;
}

}  // namespace

int openStream(int protocol) { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol); }

int bindTo(int fd, const Endpoint& endpoint) {
    sockaddr_in address = toSockaddr(endpoint);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int listenOn(int fd, int backlog) { return ::listen(fd, backlog); }

int acceptFrom(int fd, Endpoint* peer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int client;
    do {
        client = ::accept4(fd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    } while (client < 0 && errno == EINTR);
    if (client >= 0 && peer) {
        peer->address = address.sin_addr.s_addr;
        peer->port = address.sin_port;
    }
    return client;
}

int connectTo(int fd, const Endpoint& endpoint) {
    sockaddr_in address = toSockaddr(endpoint);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

long sendBytes(int fd, const char* buffer, std::size_t length) {
    ssize_t sent;
    do {
        sent = ::send(fd, buffer, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long receiveBytes(int fd, char* buffer, std::size_t length) {
    ssize_t received;
    do {
        received = ::recv(fd, buffer, length, 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<long>(received);
}

int setReceiveTimeout(int fd, unsigned milliseconds) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
    limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

int shutdownSocket(int fd, int how) {
    static constexpr int kHow[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
    if (how < 0 || how > 2) {
        errno = EINVAL;
        return -1;
    }
    return ::shutdown(fd, kHow[how]);
}

int closeSocket(int fd) {
    // A socket that is not a socket (or not open) is refused before close touches it.
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return -1;
    return ::close(fd);
}

int localEndpoint(int fd, Endpoint* endpoint) { return queryEndpoint(::getsockname, fd, endpoint); }

int peerEndpoint(int fd, Endpoint* endpoint) { return queryEndpoint(::getpeername, fd, endpoint); }

int parseIpv4(const char* text, std::uint32_t* address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text, &parsed) != 1) return 0;
    *address = parsed.s_addr;
    return 1;
}

}  // namespace nimbrel::platform::winsock
