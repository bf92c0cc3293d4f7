#include "socket/tcp_socket.h"

namespace {

bool ipv4Address(const char* address, u_short port, sockaddr_in* out) {
    *out = sockaddr_in{};
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    return inet_pton(AF_INET, address, &out->sin_addr) == 1;
}

using NameQuery = int (*)(SOCKET, sockaddr*, int*);

int portOf(NameQuery query, SOCKET handle) {
    sockaddr_in address{};
    int length = sizeof address;
    if (query(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

}  // namespace

bool TcpSocket::create() {
    handle_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return isValid();
}

bool TcpSocket::bind(const char* address, u_short port) {
    sockaddr_in name;
    if (!ipv4Address(address, port, &name)) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return ::bind(handle_, reinterpret_cast<const sockaddr*>(&name), sizeof name) == 0;
}

bool TcpSocket::listen(int backlog) { return ::listen(handle_, backlog) == 0; }

TcpSocket TcpSocket::accept() { return TcpSocket(::accept(handle_, nullptr, nullptr)); }

bool TcpSocket::connect(const char* address, u_short port) {
    sockaddr_in name;
    if (!ipv4Address(address, port, &name)) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return ::connect(handle_, reinterpret_cast<const sockaddr*>(&name), sizeof name) == 0;
}

int TcpSocket::send(const char* data, int length) { return ::send(handle_, data, length, 0); }

int TcpSocket::receive(char* buffer, int length) { return ::recv(handle_, buffer, length, 0); }

bool TcpSocket::setReceiveTimeout(DWORD milliseconds) {
    return ::setsockopt(handle_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
                        sizeof milliseconds) == 0;
}

void TcpSocket::close() {
    if (!isValid()) return;
    closesocket(handle_);
    handle_ = INVALID_SOCKET;
}

int TcpSocket::localPort() const { return portOf(::getsockname, handle_); }

int TcpSocket::peerPort() const { return portOf(::getpeername, handle_); }
