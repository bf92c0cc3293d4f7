#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/local_connection.h"
#include "platform/local_listener.h"
#include "support/test_env.h"

namespace {

using nimbrel::platform::LocalConnection;
using nimbrel::platform::LocalConnectResult;
using nimbrel::platform::LocalListener;
using nimbrel::platform::LocalReceiveResult;
using Clock = std::chrono::steady_clock;

std::string receive(LocalConnection& connection, std::size_t size) {
    std::string bytes(size, '\0');
    // Generous: only a test that fails waits this long.
    const auto later = Clock::now() + std::chrono::seconds(20);
    EXPECT_EQ(LocalReceiveResult::kOk, connection.receiveExactly(bytes.data(), size, later));
    return bytes;
}

// A listener on `name` and both ends of one connection to it.
struct ConnectedPair {
    LocalListener listener;
    LocalConnection client;
    LocalConnection server;

    explicit ConnectedPair(const std::wstring& name) {
        EXPECT_TRUE(listener.listen(name));
        EXPECT_EQ(LocalConnectResult::kConnected, client.connect(name));
        EXPECT_TRUE(listener.accept(server));
    }
};

// A missing or departed listener, and the newest listener taking a name, are the IPC channel
// tests' checks.
TEST(LocalChannelTest, ANameTooLongOrARuntimeFolderThatIsAFileIsAFailureOfItsOwn) {
    LocalConnection connection;
    LocalListener listener;
    std::wstring longName(200, L'n');
    EXPECT_FALSE(listener.listen(longName));
    EXPECT_EQ(LocalConnectResult::kNobodyListens, connection.connect(longName));

    std::string notAFolder = nimbrel::test::makeScratchDir("runtime") + "/file";
    nimbrel::test::writeFile(notAFolder, "x");
    setenv("NIMBREL_RUNTIME_DIR", notAFolder.c_str(), 1);
    EXPECT_EQ(LocalConnectResult::kFailed, connection.connect(L"service"));
    EXPECT_FALSE(connection.sendAll("x", 1));
}

TEST(LocalChannelTest, ARuntimeFolderTooDeepForASocketAddressStillCarriesChannels) {
    std::string deep = nimbrel::test::makeScratchDir("runtime");
    while (deep.size() < 150) deep += "/a-folder-deep-below";
    std::filesystem::create_directories(deep);
    setenv("NIMBREL_RUNTIME_DIR", deep.c_str(), 1);

    ConnectedPair pair(L"deep");
    ASSERT_TRUE(pair.client.sendAll("ping", 4));
    EXPECT_EQ("ping", receive(pair.server, 4));
    // The socket file is where the name says, and an idle connection to it may be used again.
    struct stat socketFile {};
    EXPECT_EQ(0, stat((deep + "/ipc-deep").c_str(), &socketFile));
    EXPECT_TRUE(S_ISSOCK(socketFile.st_mode));
    EXPECT_TRUE(pair.client.reusable());
}

TEST(LocalChannelTest, LargeTransfersArriveWholeInBothDirections) {
    ConnectedPair pair(L"bulk");
    LocalConnection& client = pair.client;
    LocalConnection& server = pair.server;

    // Far more than a socket buffer holds, so both ends loop while the other side drains.
    std::string request(4 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<char>(i * 7 % 251);
    bool sent = false;
    std::thread sender([&] { sent = client.sendAll(request.data(), request.size()); });
    std::string received = receive(server, request.size());
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(received == request);

    // The reply goes out in two calls; the receiver still gets it in one.
    std::thread replier([&] {
        sent = server.sendAll(request.data(), request.size() / 2) &&
               server.sendAll(request.data() + request.size() / 2, request.size() - request.size() / 2);
    });
    received = receive(client, request.size());
    replier.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(received == request);
}

}  // namespace
