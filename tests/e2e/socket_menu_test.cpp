// nimbrel-menu against things that are not a working server: it must say what went wrong and
// exit non-zero rather than print a reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/windows.h"
#include "platform/winsock2.h"
#include "support/test_env.h"

namespace {

using nimbrel::test::runCommand;

class SocketMenuTest : public testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }

    // Publishes a port record under the mounted-space name, as a server would.
    void publish(const std::string& text) {
        section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1000, "_SocketApi_tcp_");
        ASSERT_NE(section_, nullptr);
        char* view = static_cast<char*>(MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(view, nullptr);
        std::memcpy(view, text.c_str(), text.size() + 1);
        UnmapViewOfFile(view);
    }

    // A listener on a system-chosen loopback port.
    SOCKET listenOnLoopback(int* port) {
        SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 4);
        int length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        *port = ntohs(address.sin_port);
        return listener;
    }

    nimbrel::test::CommandResult menu(const std::vector<std::string>& args) {
        return runCommand(nimbrel::test::appDir() + "/nimbrel-menu", args);
    }

    HANDLE section_ = nullptr;
};

TEST_F(SocketMenuTest, TheMissingPortOrServerIsReportedAndThePortIsReadUpToTheFirstNul) {
    int port = 0;
    closesocket(listenOnLoopback(&port));  // the port is now known to be free
    const std::string unreachable = "cannot reach the server of mode 0 at 127.0.0.1:" + std::to_string(port);
    const struct {
        std::string published;  // empty: nothing published
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
    } cases[] = {
        {"", {"--mode", "0", "checkOnline"}, 1, "", "of mode 0 has published a port under \"_SocketApi_tcp_\""},
        {"{\"serverport\":4321}", {"--mode", "0", "port"}, 0, "4321\n", ""},
        {"{\"serverport\":4321}", {"--mode", "1", "port"}, 1, "", "no server of mode 1"},
        {"{\"serverport\":" + std::to_string(port) + "}", {"--mode", "0", "checkOnline"}, 3, "", unreachable},
    };
    for (const auto& c : cases) {
        if (!c.published.empty()) publish(c.published);
        auto result = menu(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.published << result.err;
        EXPECT_EQ(result.out, c.out) << c.published;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
}

TEST_F(SocketMenuTest, AServerThatClosesWithoutAReplyIsReportedAfterReceivingTheRequest) {
    int port = 0;
    SOCKET listener = listenOnLoopback(&port);
    publish("{\"serverport\":" + std::to_string(port) + "}");

    std::string request;
    std::thread server([&] {
        SOCKET connection = accept(listener, nullptr, nullptr);
        char buffer[256];
        int count;
        // The whole frame: 8 header bytes and "checkOnline\r\n{\"a\":1}".
        while (request.size() < 8 + 20 && (count = recv(connection, buffer, sizeof buffer, 0)) > 0) {
            request.append(buffer, static_cast<std::size_t>(count));
        }
        closesocket(connection);
    });
    auto result = menu({"--mode", "0", "checkOnline", "{\"a\":1}"});
    server.join();
    closesocket(listener);

    EXPECT_EQ(request, std::string("\xFF\xFF\xFF\xFF\x14\x00\x00\x00", 8) + "checkOnline\r\n{\"a\":1}");
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("closed the connection without a reply"), std::string::npos) << result.err;
}

TEST_F(SocketMenuTest, MalformedArgumentsFailWithOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"--mode", "0"}, {"--mode", "2", "port"}, {"--mode", "x", "port"}, {"-m", "0", "port"}}) {
        auto result = menu(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err.rfind("nimbrel-menu: ", 0), 0u) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
}

}  // namespace
