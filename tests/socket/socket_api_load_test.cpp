#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/sync_virtual_config.h"
#include "socket/socket_api.h"
#include "socket/test_socket_client.h"
#include "support/test_env.h"

namespace nimbrel::test {
namespace {

TEST(SocketApiLoadTest, ManyConcurrentClientsAreAllAnsweredAndLeaveNothingBehind) {
    const int port = runningServerPort();
    ASSERT_NE(port, 0);
    const std::size_t idleThreads = threadCount();
    const std::size_t idleDescriptors = descriptorCount();

    constexpr int kClients = 50;
    constexpr int kRequestsPerClient = 10;
    std::atomic<int> answered{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            for (int r = 0; r < kRequestsPerClient; ++r) {
                if (request(port, "checkOnline\r\n") == std::optional<std::string>(R"({"code":"S_OK"})")) ++answered;
            }
            // Broken requests on the side: each must release its connection and thread as well.
            SocketClient truncated(port);
            truncated.sendRaw(frame("checkOnline\r\n", 64));
            truncated.close();
            SocketClient garbage(port);
            garbage.sendRaw("GET / HTTP/1.0\r\n\r\n");
            if (garbage.endsWithoutData()) ++refused;
        });
    }
    for (auto& client : clients) client.join();

    EXPECT_EQ(answered.load(), kClients * kRequestsPerClient);
    EXPECT_EQ(refused.load(), kClients);
    EXPECT_TRUE(waitUntil([&] { return threadCount() == idleThreads && descriptorCount() == idleDescriptors; }))
        << "threads " << threadCount() << " (idle " << idleThreads << "), descriptors " << descriptorCount()
        << " (idle " << idleDescriptors << ")";
}

}  // namespace
}  // namespace nimbrel::test
