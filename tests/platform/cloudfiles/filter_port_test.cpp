// The filter service's requests on behalf of a process, against a port that hangs up unanswered, as
// the port of a provider that is being killed does.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <future>
#include <thread>

#include "cf_filter_port.h"

namespace nimbrel::test::cf {
namespace {

using platform::cf::PortOperation;

int connectedOrListening(const std::string& path, bool listen) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    const bool ok = listen ? ::bind(fd, raw, sizeof(address)) == 0 && ::listen(fd, 8) == 0
                           : ::connect(fd, raw, sizeof(address)) == 0;
    EXPECT_TRUE(ok) << std::strerror(errno);
    return fd;
}

TEST(FilterPortOnBehalf, TheProvidersOwnRequestsAreAnsweredWithoutAskingIt) {
    struct Case {
        PortOperation operation;
        bool providersOwn;
        NTSTATUS expected;
    };
    const Case cases[] = {
        {PortOperation::OpenFor, true, STATUS_CLOUD_FILE_ACCESS_DENIED},
        {PortOperation::ReadFor, true, STATUS_CLOUD_FILE_ACCESS_DENIED},
        {PortOperation::OpenFor, false, STATUS_CLOUD_FILE_PROVIDER_TERMINATED},
        {PortOperation::ReadFor, false, STATUS_CLOUD_FILE_PROVIDER_TERMINATED},
    };
    const std::string root = "/nowhere/root";
    for (const Case& c : cases) {
        const std::string socketPath = platform::cf::portSocketPath(root);
        ::unlink(socketPath.c_str());
        // This process listens, so it is the provider the port's peer credentials name.
        const int listener = connectedOrListening(socketPath, true);
        std::thread port([listener] {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client >= 0) ::close(client);
        });
        const std::uint32_t requester = c.providersOwn ? ::getpid() : ::getppid();
        EXPECT_EQ(c.expected, platform::cf::requestThroughPortFor(root, c.operation, root + "/file", 0, 0, requester))
            << static_cast<int>(c.operation) << " own " << c.providersOwn;
        // A request answered without the port leaves it waiting: one more connection releases it.
        if (c.providersOwn) ::close(connectedOrListening(socketPath, false));
        port.join();
        ::close(listener);
    }
}

// A provider killed while a thread of it waits in the filter mount for a page that the reader of
// this very request holds cannot end, so its port stays open: its first thread ended is the sign.
TEST(FilterPortOnBehalf, ARequestEndsWhenTheProviderIsBeingKilledThoughItsPortStaysOpen) {
    const std::string root = "/nowhere/dying";
    const std::string socketPath = platform::cf::portSocketPath(root);
    ::unlink(socketPath.c_str());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t provider = ::fork();
    if (provider == 0) {
        const int listener = connectedOrListening(socketPath, true);
        std::thread([listener] {
            const int client = ::accept(listener, nullptr, nullptr);
            ::pause();
            ::close(client);
        }).detach();
        ::write(ready[1], "r", 1);
        // Only this thread ends, without unwinding into the test framework.
        ::syscall(SYS_exit, 0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(STATUS_CLOUD_FILE_PROVIDER_TERMINATED,
              platform::cf::requestThroughPortFor(root, PortOperation::ReadFor, root + "/file", 0, 0, ::getpid()));
    ::kill(provider, SIGKILL);
    ::waitpid(provider, nullptr, 0);
}

// Answers `count` requests on `client` with `status`, reading each request as the port would.
void answerRequests(int client, NTSTATUS status, int count) {
    char request[24 + 256];
    for (int i = 0; i < count && ::recv(client, request, 24, MSG_WAITALL) == 24 && request[4] > 0 &&
                    ::recv(client, request + 24, request[4], MSG_WAITALL) == request[4];
         ++i) {
        const std::int32_t result[6] = {2, static_cast<std::int32_t>(status), 0, 0, 0, 0};
        ::send(client, result, sizeof(result), MSG_NOSIGNAL);
    }
}

TEST(FilterPortConnections, AreReusedUntilTheProviderClosesThemOrAnotherTakesThePort) {
    const std::string root = "/nowhere/reused";
    const std::string socketPath = platform::cf::portSocketPath(root);
    ::unlink(socketPath.c_str());
    const int first = connectedOrListening(socketPath, true);
    std::promise<void> firstClosed;
    std::promise<void> secondMayClose;
    std::thread provider([&] {
        int client = ::accept(first, nullptr, nullptr);
        answerRequests(client, STATUS_SUCCESS, 2);
        ::close(client);
        firstClosed.set_value();
        client = ::accept(first, nullptr, nullptr);
        answerRequests(client, STATUS_SUCCESS, 1);
        secondMayClose.get_future().wait();
        ::close(client);
    });
    auto open = [&] { return platform::cf::requestThroughPort(root, PortOperation::Open, root + "/file", 0, 0); };
    EXPECT_EQ(STATUS_SUCCESS, open());
    EXPECT_EQ(STATUS_SUCCESS, open());
    firstClosed.get_future().wait();
    EXPECT_EQ(STATUS_SUCCESS, open());  // the idle connection the provider closed must not fail it

    // A provider that takes the port over gets the next request, though the old one keeps its
    // connection open.
    ::unlink(socketPath.c_str());
    const int second = connectedOrListening(socketPath, true);
    std::thread successor([&] {
        const int client = ::accept(second, nullptr, nullptr);
        answerRequests(client, STATUS_CLOUD_FILE_ACCESS_DENIED, 1);
        ::close(client);
    });
    EXPECT_EQ(STATUS_CLOUD_FILE_ACCESS_DENIED, open());
    ::close(connectedOrListening(socketPath, false));  // ends a successor still waiting for its peer
    secondMayClose.set_value();
    provider.join();
    successor.join();
    ::close(first);
    ::close(second);
}

}  // namespace
}  // namespace nimbrel::test::cf
