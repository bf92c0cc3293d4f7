#include "platform/local_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "local_channel_address.h"

namespace nimbrel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A reply or the next request of an exchange mostly follows within a few tens of microseconds.
// Waiting for it that long without sleeping saves the wake-up from a blocked poll, which costs
// about as much again (measured: a socket round trip between two threads, 48 us blocking, 3 us
// with a 10 us wait).
constexpr auto kBusyWait = std::chrono::microseconds(50);

}  // namespace

LocalConnection::~LocalConnection() { close(); }

LocalConnectResult LocalConnection::connect(const std::wstring& channelName) {
    close();
    sockaddr_un address;
    if (!localChannelAddress(channelName, address)) return LocalConnectResult::kNobodyListens;
    identifySocketFile(address.sun_path, listener_);
    for (;;) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return LocalConnectResult::kFailed;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            fd_ = fd;
            channelName_ = channelName;
            return LocalConnectResult::kConnected;
        }
        int error = errno;
        ::close(fd);
        // An interrupted connect leaves the socket in an unknown state; a fresh one starts over.
        if (error == EINTR) continue;
        // No file: the name was never taken. Refused: the file outlived its listener.
        if (error == ENOENT || error == ECONNREFUSED) return LocalConnectResult::kNobodyListens;
        return LocalConnectResult::kFailed;
    }
}

bool LocalConnection::reusable() const {
    sockaddr_un address;
    return localChannelAddress(channelName_, address) && idleConnectionUsable(fd_, listener_, address.sun_path);
}

bool LocalConnection::sendAll(const char* data, std::size_t size) {
    if (fd_ < 0) return false;
    std::size_t done = 0;
    while (done < size) {
        ssize_t sent = ::send(fd_, data + done, size - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

LocalReceiveResult LocalConnection::receiveExactly(char* buffer, std::size_t size, Clock::time_point deadline) {
    if (fd_ < 0) return LocalReceiveResult::kFailed;
    std::size_t done = 0;
    auto busyUntil = Clock::now() + kBusyWait;
    while (done < size) {
        ssize_t got = ::recv(fd_, buffer + done, size - done, MSG_DONTWAIT);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) return LocalReceiveResult::kEnded;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return LocalReceiveResult::kFailed;
        const auto now = Clock::now();
        if (now < busyUntil) continue;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (left <= 0) return LocalReceiveResult::kTimedOut;
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000))) < 0 && errno != EINTR) {
            return LocalReceiveResult::kFailed;
        }
        busyUntil = Clock::now() + kBusyWait;
    }
    return LocalReceiveResult::kOk;
}

void LocalConnection::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace nimbrel::platform
