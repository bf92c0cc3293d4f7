#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "suite/ipcmodule/ipc_interface.h"
#include "support/test_env.h"

namespace {

using nimbrel::test::waitUntil;

// A receiver that answers "got " and the request, unless a test chooses otherwise.
class Receiver : public IRequestNotify {
public:
    IIpcInterface* channel = nullptr;
    std::function<void(const char*, const std::wstring&)> onRequest =
        [this](const char* name, const std::wstring& text) { channel->reply(name, L"got " + text); };

    int OnRequest(const char* ipcName, const std::wstring& text) override {
        onRequest(ipcName, text);
        std::lock_guard<std::mutex> lock(mutex_);
        ++completed_;
        changed_.notify_all();
        return 0;
    }

    // Handlers capture the test's locals, so a test waits for them before it ends.
    void waitCompleted(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return completed_ >= count; });
    }
    int completed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return completed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int completed_ = 0;
};

class IpcChannelTest : public testing::Test {
protected:
    void SetUp() override {
        void* module = dlopen((nimbrel::test::appDir() + "/libipcmodule.so").c_str(), RTLD_NOW);
        ASSERT_NE(nullptr, module) << dlerror();
        factory_ = reinterpret_cast<CreateIpcInterfaceFn>(dlsym(module, "CreateIpcInterface"));
        ASSERT_NE(nullptr, factory_) << dlerror();
    }

    void create(Receiver& peer) {
        ASSERT_EQ(0, factory_(&peer.channel, &peer));
        ASSERT_NE(nullptr, peer.channel);
    }

    // Server listens on "plugin->service" and sends on "service->plugin"; the client swaps them.
    void connectPair() {
        create(server_);
        create(client_);
        ASSERT_TRUE(server_.channel->start("plugin-service", "service-plugin"));
        ASSERT_TRUE(client_.channel->start("service-plugin", "plugin-service"));
        ASSERT_TRUE(waitUntil([&] { return server_.channel->isReady() && client_.channel->isReady(); }));
    }

    std::string socketPath(const std::string& channel) { return nimbrel::test::runtimeDir() + "/ipc-" + channel; }
    sockaddr_un unixAddress(const std::string& channel) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socketPath(channel).c_str());
        return address;
    }

    CreateIpcInterfaceFn factory_ = nullptr;
    Receiver server_;
    Receiver client_;
};

TEST_F(IpcChannelTest, IsReadyOnlyOnceThePeerListensAndASendOnlyChannelRequestsWithoutListening) {
    create(server_);
    create(client_);
    EXPECT_FALSE(server_.channel->isReady());
    ASSERT_TRUE(server_.channel->start("plugin-service", "service-plugin"));
    EXPECT_FALSE(server_.channel->start("plugin-service", "service-plugin"));
    ASSERT_TRUE(waitUntil([&] { return access(socketPath("plugin-service").c_str(), F_OK) == 0; }));
    EXPECT_FALSE(server_.channel->isReady());

    ASSERT_TRUE(client_.channel->start("", "plugin-service"));
    ASSERT_TRUE(waitUntil([&] { return client_.channel->isReady(); }));
    std::wstring answer;
    EXPECT_EQ(kIpcRequestOk, client_.channel->request(L"x\r\n", answer));
    EXPECT_EQ(L"got x\r\n", answer);
    server_.waitCompleted(1);
}

TEST_F(IpcChannelTest, RequestToAGonePeerFailsAtOnce) {
    create(server_);
    std::wstring answer = L"stale";
    EXPECT_EQ(kIpcRequestNotStarted, server_.channel->request(L"checkOnline\r\n", answer));
    EXPECT_TRUE(answer.empty());

    ASSERT_TRUE(server_.channel->start("plugin-service", "service-plugin"));
    EXPECT_EQ(kIpcRequestPeerGone, server_.channel->request(L"checkOnline\r\n", answer));

    // A socket file left behind by a dead peer refuses the connection the same way.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = unixAddress("service-plugin");
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    close(fd);
    EXPECT_EQ(kIpcRequestPeerGone, server_.channel->request(L"checkOnline\r\n", answer));
}

TEST_F(IpcChannelTest, SilentPeerTimesOutAndUnansweredRequestEndsAtOnce) {
    setenv("NIMBREL_IPC_TIMEOUT_MS", "300", 1);
    connectPair();
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    client_.onRequest = [&](const char* name, const std::wstring& text) {
        if (text == L"silent\r\n") {
            std::unique_lock<std::mutex> lock(mutex);
            released.wait(lock, [&] { return release; });
            // The requester has given up; the late answer finds nobody.
            EXPECT_EQ(-1, client_.channel->reply(name, L"too late"));
        }
    };

    std::wstring answer;
    EXPECT_EQ(kIpcRequestTimedOut, server_.channel->request(L"silent\r\n", answer));
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(kIpcRequestNoReply, server_.channel->request(L"ignored\r\n", answer));
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    client_.waitCompleted(2);
}

TEST_F(IpcChannelTest, RequestsFlowBothWaysAndConcurrentRequestsEachGetTheirOwnReply) {
    connectPair();
    std::wstring answer;
    EXPECT_EQ(kIpcRequestOk, client_.channel->request(L"getMessage\r\n{\"content\":\"\u4E91\"}", answer));
    EXPECT_EQ(L"got getMessage\r\n{\"content\":\"\u4E91\"}", answer);

    constexpr int kRequests = 32;
    std::mutex mutex;
    std::condition_variable allInside;
    int inside = 0;
    std::vector<std::string> names;
    // Every handler holds its request until all of them are in flight, so replies can only
    // reach the right caller through the IPC name.
    client_.onRequest = [&](const char* name, const std::wstring& text) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            names.push_back(name);
            if (++inside == kRequests) allInside.notify_all();
            allInside.wait(lock, [&] { return inside == kRequests; });
        }
        client_.channel->reply(name, L"reply to " + text);
        EXPECT_EQ(-1, client_.channel->reply(name, L"second reply"));
    };

    std::vector<std::wstring> answers(kRequests);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i) {
        threads.emplace_back([&, i] {
            EXPECT_EQ(kIpcRequestOk, server_.channel->request(L"n" + std::to_wstring(i) + L"\r\n", answers[i]));
        });
    }
    for (auto& thread : threads) thread.join();
    client_.waitCompleted(kRequests);
    for (int i = 0; i < kRequests; ++i) EXPECT_EQ(L"reply to n" + std::to_wstring(i) + L"\r\n", answers[i]);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.end(), std::adjacent_find(names.begin(), names.end()));
}

TEST_F(IpcChannelTest, MalformedFrameClosesOnlyItsOwnConnection) {
    connectPair();
    auto sendRaw = [&](const std::string& bytes) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = unixAddress("service-plugin");
        EXPECT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
        EXPECT_EQ(static_cast<ssize_t>(bytes.size()), send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
        char byte;
        // The module closes the connection without answering (a reset when bytes stay unread).
        ssize_t got = recv(fd, &byte, 1, 0);
        close(fd);
        return got <= 0;
    };
    EXPECT_TRUE(sendRaw("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(sendRaw(std::string("NIPC\xff\xff\xff\x7f", 8) + "x"));

    std::wstring answer;
    EXPECT_EQ(kIpcRequestOk, server_.channel->request(L"after\r\n", answer));
    EXPECT_EQ(L"got after\r\n", answer);
    client_.waitCompleted(1);
    EXPECT_EQ(1, client_.completed());
}

TEST_F(IpcChannelTest, ConnectionsAreReusedUntilThePeerClosesOrANewerListenerTakesTheName) {
    setenv("NIMBREL_IPC_TIMEOUT_MS", "2000", 1);
    // A peer that echoes two frames on its first connection and closes it, then one on the next.
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = unixAddress("service-plugin");
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, listen(listener, 4));
    std::promise<void> firstClosed;
    std::thread peer([&] {
        for (int answers : {2, 1}) {
            int fd = accept(listener, nullptr, nullptr);
            char frame[64];
            for (int i = 0; i < answers && recv(fd, frame, 8, MSG_WAITALL) == 8 && frame[4] < 56 &&
                            recv(fd, frame + 8, frame[4], MSG_WAITALL) == frame[4];
                 ++i) {
                send(fd, frame, 8 + frame[4], MSG_NOSIGNAL);
            }
            close(fd);
            if (answers == 2) firstClosed.set_value();
        }
    });
    create(server_);
    ASSERT_TRUE(server_.channel->start("plugin-service", "service-plugin"));
    std::wstring answer;
    for (std::wstring text : {L"a\r\n", L"b\r\n", L"c\r\n"}) {
        // The connection the peer closed lies idle and must not fail "c".
        if (text == L"c\r\n") firstClosed.get_future().wait();
        EXPECT_EQ(kIpcRequestOk, server_.channel->request(text, answer));
        EXPECT_EQ(text, answer);
    }
    peer.join();
    close(listener);

    create(client_);
    ASSERT_TRUE(client_.channel->start("service-plugin", "plugin-service"));
    ASSERT_TRUE(waitUntil([&] { return server_.channel->request(L"d\r\n", answer) == kIpcRequestOk; }));
    static Receiver newer;
    newer.onRequest = [&](const char* name, const std::wstring& text) { newer.channel->reply(name, L"new " + text); };
    create(newer);
    ASSERT_TRUE(newer.channel->start("service-plugin", "plugin-service"));
    ASSERT_TRUE(waitUntil([&] { return newer.channel->isReady(); }));  // its listener holds the name
    EXPECT_EQ(kIpcRequestOk, server_.channel->request(L"e\r\n", answer));
    EXPECT_EQ(L"new e\r\n", answer);
    client_.waitCompleted(1);
    newer.waitCompleted(1);
}

}  // namespace
