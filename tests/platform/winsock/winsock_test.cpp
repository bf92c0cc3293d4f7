#include <gtest/gtest.h>

#include <cstring>

#include "platform/winsock2.h"

namespace {

// The error a failed call left (its result was the failure value), 0 when it succeeded.
int socketError(bool failed) { return failed ? WSAGetLastError() : 0; }

sockaddr_in loopback(u_short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, "127.0.0.1", &address.sin_addr), 1);
    return address;
}

u_short localPort(SOCKET s) {
    sockaddr_in address{};
    int length = sizeof address;
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
    return ntohs(address.sin_port);
}

class WinsockTest : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    }
    // Start-ups are counted for the process: each one is balanced.
    void TearDown() override { EXPECT_EQ(WSACleanup(), 0); }

    // A listener on 127.0.0.1 with a port chosen by the system.
    SOCKET listenOnLoopback() {
        SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(listener, INVALID_SOCKET);
        sockaddr_in address = loopback(0);
        EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener, SOMAXCONN), 0);
        return listener;
    }

    SOCKET connectTo(u_short port) {
        SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = loopback(port);
        EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return client;
    }
};

TEST(WinsockStartupTest, CallsBeforeStartupUnbalancedCleanupAndVersionZeroFail) {
    EXPECT_EQ(socketError(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) == INVALID_SOCKET), WSANOTINITIALISED);
    EXPECT_EQ(socketError(WSACleanup() == SOCKET_ERROR), WSANOTINITIALISED);

    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 2), &data), WSAVERNOTSUPPORTED);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(WSACleanup(), 0);
    SOCKET stillStarted = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(stillStarted, INVALID_SOCKET);
    EXPECT_EQ(closesocket(stillStarted), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
}

TEST_F(WinsockTest, ConnectedPairExchangesBytesAndKnowsBothPorts) {
    SOCKET listener = listenOnLoopback();
    u_short port = localPort(listener);
    ASSERT_NE(port, 0);

    SOCKET client = connectTo(port);
    sockaddr_in peer{};
    int peerLength = sizeof peer;
    SOCKET server = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    ASSERT_NE(server, INVALID_SOCKET);
    EXPECT_EQ(ntohs(peer.sin_port), localPort(client));
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    sockaddr_in serverSide{};
    int length = sizeof serverSide;
    ASSERT_EQ(getpeername(client, reinterpret_cast<sockaddr*>(&serverSide), &length), 0);
    EXPECT_EQ(ntohs(serverSide.sin_port), port);

    const char request[] = "ping\r\n{}";
    EXPECT_EQ(send(client, request, sizeof request - 1, 0), static_cast<int>(sizeof request - 1));
    char buffer[64] = {};
    EXPECT_EQ(recv(server, buffer, sizeof buffer, 0), static_cast<int>(sizeof request - 1));
    EXPECT_STREQ(buffer, request);

    ASSERT_EQ(shutdown(server, SD_SEND), 0);
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), 0);  // orderly end of stream

    EXPECT_EQ(closesocket(client), 0);
    EXPECT_EQ(closesocket(server), 0);
    EXPECT_EQ(closesocket(listener), 0);
}

TEST_F(WinsockTest, SystemErrorsArriveAsWinsockCodes) {
    SOCKET listener = listenOnLoopback();
    u_short port = localPort(listener);

    SOCKET second = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in taken = loopback(port);
    EXPECT_EQ(socketError(bind(second, reinterpret_cast<sockaddr*>(&taken), sizeof taken) == SOCKET_ERROR),
              WSAEADDRINUSE);
    EXPECT_EQ(closesocket(second), 0);

    ASSERT_EQ(closesocket(listener), 0);
    SOCKET refused = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in closedPort = loopback(port);
    EXPECT_EQ(
        socketError(connect(refused, reinterpret_cast<sockaddr*>(&closedPort), sizeof closedPort) == SOCKET_ERROR),
        WSAECONNREFUSED);
    EXPECT_EQ(closesocket(refused), 0);

    EXPECT_EQ(socketError(closesocket(refused) == SOCKET_ERROR), WSAENOTSOCK);
    EXPECT_EQ(socketError(closesocket(INVALID_SOCKET) == SOCKET_ERROR), WSAENOTSOCK);
}

TEST_F(WinsockTest, PeerThatClosesWithUnreadDataResetsTheConnectionWithoutASignal) {
    SOCKET listener = listenOnLoopback();
    SOCKET client = connectTo(localPort(listener));
    SOCKET server = accept(listener, nullptr, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);

    ASSERT_EQ(send(client, "ab", 2, 0), 2);
    char byte;
    ASSERT_EQ(recv(server, &byte, 1, 0), 1);
    // Closing with a byte still unread makes the system reset the connection.
    ASSERT_EQ(closesocket(server), 0);

    char buffer[8];
    EXPECT_EQ(socketError(recv(client, buffer, sizeof buffer, 0) == SOCKET_ERROR), WSAECONNRESET);
    // A send to the reset peer is an error, never a broken-pipe signal that ends the process.
    EXPECT_EQ(socketError(send(client, "x", 1, 0) == SOCKET_ERROR), WSAECONNRESET);
    closesocket(client);
    closesocket(listener);
}

TEST_F(WinsockTest, OnlyIpv4StreamSocketsAndAddressesAreAccepted) {
    EXPECT_EQ(socket(23, SOCK_STREAM, 0), INVALID_SOCKET);  // AF_INET6 on Windows
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(socketError(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP) == INVALID_SOCKET), WSAESOCKTNOSUPPORT);

    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, "localhost", &address), 0);
    EXPECT_EQ(socketError(inet_pton(23, "::1", &address) == -1), WSAEAFNOSUPPORT);
    ASSERT_EQ(inet_pton(AF_INET, "10.1.2.3", &address), 1);
    EXPECT_EQ(address.S_un.S_un_b.s_b1, 10);
    EXPECT_EQ(address.S_un.S_un_b.s_b4, 3);

    u_short port = htons(0x1234);
    unsigned char bytes[2];
    std::memcpy(bytes, &port, 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);

    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in tooShort = loopback(0);
    EXPECT_EQ(socketError(bind(s, reinterpret_cast<sockaddr*>(&tooShort), 4) == SOCKET_ERROR), WSAEFAULT);
    closesocket(s);
}

}  // namespace
