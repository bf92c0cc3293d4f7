#pragma once
// A thin value wrapper over one Winsock stream socket. Copies share the handle and destroying a
// copy never closes it, so whoever ends a connection closes it explicitly.

#include "platform/winsock2.h"

class TcpSocket {
public:
    TcpSocket() = default;
    explicit TcpSocket(SOCKET handle) : handle_(handle) {}

    // AF_INET, SOCK_STREAM, IPPROTO_TCP. Failures leave the reason in WSAGetLastError.
    bool create();
    // `address` is dotted IPv4 text.
    bool bind(const char* address, u_short port);
    bool listen(int backlog);
    // The accepted connection (the peer's address is not kept); an invalid socket on failure.
    TcpSocket accept();
    bool connect(const char* address, u_short port);
    // Counts as returned by send/recv: SOCKET_ERROR on failure, 0 from receive at end of stream.
    int send(const char* data, int length);
    int receive(char* buffer, int length);
    // A receive that waits longer than this fails with WSAETIMEDOUT.
    bool setReceiveTimeout(DWORD milliseconds);
    // Closes a valid handle and forgets it; does nothing to an invalid one.
    void close();
    // Host byte order; 0 when the socket has none.
    int localPort() const;
    int peerPort() const;

    bool isValid() const { return handle_ != INVALID_SOCKET; }
    SOCKET handle() const { return handle_; }

private:
    SOCKET handle_ = INVALID_SOCKET;
};
