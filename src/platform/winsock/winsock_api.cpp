#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/win_error.h"
#include "platform/winsock2.h"
#include "winsock_posix.h"

namespace {

namespace ws = nimbrel::platform::winsock;

// WSAStartup calls not yet balanced by WSACleanup, process-wide as on Windows.
std::atomic<int> startupCount{0};

int fail(int wsaError) {
    SetLastError(static_cast<DWORD>(wsaError));
    return SOCKET_ERROR;
}

int failFromErrno() { return fail(ws::wsaErrorFromErrno(errno)); }

SOCKET invalidSocket(int wsaError) {
    fail(wsaError);
    return INVALID_SOCKET;
}

// Checks that Winsock is started and that `s` can name a descriptor; answers it, or -1 with the
// error already set.
int descriptorOf(SOCKET s) {
    if (startupCount.load() <= 0) return fail(WSANOTINITIALISED);
    if (s == INVALID_SOCKET || s > static_cast<SOCKET>(INT_MAX)) return fail(WSAENOTSOCK);
    return static_cast<int>(s);
}

// An IPv4 address passed in by the caller; false (with the error set) when it is not one.
bool endpointFrom(const sockaddr* name, int nameLength, ws::Endpoint* endpoint) {
    if (!name || nameLength < static_cast<int>(sizeof(sockaddr_in))) {
        fail(WSAEFAULT);
        return false;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(name);
    if (address->sin_family != AF_INET) {
        fail(WSAEAFNOSUPPORT);
        return false;
    }
    endpoint->address = address->sin_addr.s_addr;
    endpoint->port = address->sin_port;
    return true;
}

// Fills a caller's address buffer with an IPv4 endpoint; false (with the error set) when the
// buffer is too small.
bool endpointTo(const ws::Endpoint& endpoint, sockaddr* name, int* nameLength) {
    if (!nameLength || *nameLength < static_cast<int>(sizeof(sockaddr_in))) {
        fail(WSAEFAULT);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = endpoint.port;
    address.sin_addr.s_addr = endpoint.address;
    std::memcpy(name, &address, sizeof address);
    *nameLength = sizeof address;
    return true;
}

using EndpointQuery = int (*)(int, ws::Endpoint*);

int queryName(EndpointQuery query, SOCKET s, sockaddr* name, int* nameLength) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (!name) return fail(WSAEFAULT);
    ws::Endpoint endpoint;
    if (query(fd, &endpoint) != 0) return failFromErrno();
    return endpointTo(endpoint, name, nameLength) ? 0 : SOCKET_ERROR;
}

u_short swap16(u_short value) { return static_cast<u_short>((value >> 8) | (value << 8)); }

}  // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    if (LOBYTE(versionRequested) < 1) return WSAVERNOTSUPPORTED;
    if (!data) return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    const bool above22 =
        LOBYTE(versionRequested) > 2 || (LOBYTE(versionRequested) == 2 && HIBYTE(versionRequested) > 2);
    data->wVersion = above22 ? MAKEWORD(2, 2) : versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    ++startupCount;
    return 0;
}

int WSACleanup() {
    int count = startupCount.load();
    while (count > 0 && !startupCount.compare_exchange_weak(count, count - 1)) {
    }
    return count > 0 ? 0 : fail(WSANOTINITIALISED);
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }

void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

SOCKET socket(int af, int type, int protocol) {
    if (startupCount.load() <= 0) return invalidSocket(WSANOTINITIALISED);
    if (af != AF_INET) return invalidSocket(WSAEAFNOSUPPORT);
    if (type != SOCK_STREAM) return invalidSocket(WSAESOCKTNOSUPPORT);
    if (protocol != 0 && protocol != IPPROTO_TCP) return invalidSocket(WSAEPROTONOSUPPORT);
    int fd = ws::openStream(protocol);
    if (fd < 0) return invalidSocket(ws::wsaErrorFromErrno(errno));
    return static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    ws::Endpoint endpoint;
    if (!endpointFrom(name, nameLength, &endpoint)) return SOCKET_ERROR;
    return ws::bindTo(fd, endpoint) == 0 ? 0 : failFromErrno();
}

int listen(SOCKET s, int backlog) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    return ws::listenOn(fd, backlog) == 0 ? 0 : failFromErrno();
}

SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) {
    int fd = descriptorOf(s);
    if (fd < 0) return INVALID_SOCKET;
    if (address && (!addressLength || *addressLength < static_cast<int>(sizeof(sockaddr_in)))) {
        return invalidSocket(WSAEFAULT);
    }
    ws::Endpoint peer;
    int client = ws::acceptFrom(fd, &peer);
    if (client < 0) return invalidSocket(ws::wsaErrorFromErrno(errno));
    if (address) endpointTo(peer, address, addressLength);
    return static_cast<SOCKET>(client);
}

int connect(SOCKET s, const sockaddr* name, int nameLength) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    ws::Endpoint endpoint;
    if (!endpointFrom(name, nameLength, &endpoint)) return SOCKET_ERROR;
    return ws::connectTo(fd, endpoint) == 0 ? 0 : failFromErrno();
}

int send(SOCKET s, const char* buffer, int length, int flags) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (flags != 0) return fail(WSAEOPNOTSUPP);
    if (length < 0 || (!buffer && length > 0)) return fail(WSAEFAULT);
    long sent = ws::sendBytes(fd, buffer, static_cast<std::size_t>(length));
    return sent < 0 ? failFromErrno() : static_cast<int>(sent);
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (flags != 0) return fail(WSAEOPNOTSUPP);
    if (length < 0 || (!buffer && length > 0)) return fail(WSAEFAULT);
    long received = ws::receiveBytes(fd, buffer, static_cast<std::size_t>(length));
    // Sockets here always block, so a receive that would block has run into SO_RCVTIMEO.
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return fail(WSAETIMEDOUT);
    return received < 0 ? failFromErrno() : static_cast<int>(received);
}

int shutdown(SOCKET s, int how) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    return ws::shutdownSocket(fd, how) == 0 ? 0 : failFromErrno();
}

int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    if (level != SOL_SOCKET || optionName != SO_RCVTIMEO) return fail(WSAENOPROTOOPT);
    if (!optionValue || optionLength < static_cast<int>(sizeof(DWORD))) return fail(WSAEFAULT);
    DWORD milliseconds = 0;
    std::memcpy(&milliseconds, optionValue, sizeof milliseconds);
    return ws::setReceiveTimeout(fd, milliseconds) == 0 ? 0 : failFromErrno();
}

int closesocket(SOCKET s) {
    int fd = descriptorOf(s);
    if (fd < 0) return SOCKET_ERROR;
    return ws::closeSocket(fd) == 0 ? 0 : failFromErrno();
}

int getsockname(SOCKET s, sockaddr* name, int* nameLength) { return queryName(ws::localEndpoint, s, name, nameLength); }

int getpeername(SOCKET s, sockaddr* name, int* nameLength) { return queryName(ws::peerEndpoint, s, name, nameLength); }

u_short htons(u_short value) { return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? swap16(value) : value; }

u_short ntohs(u_short value) { return htons(value); }

u_long htonl(u_long value) {
    const auto low = static_cast<std::uint32_t>(value);
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? __builtin_bswap32(low) : low;
}

int inet_pton(int family, const char* text, void* address) {
    if (family != AF_INET) return fail(WSAEAFNOSUPPORT);
    if (!text || !address) return fail(WSAEFAULT);
    std::uint32_t parsed = 0;
    if (ws::parseIpv4(text, &parsed) != 1) return 0;
    std::memcpy(address, &parsed, sizeof parsed);
    return 1;
}
