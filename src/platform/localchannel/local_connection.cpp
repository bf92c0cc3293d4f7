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
    while (done < size) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return LocalReceiveResult::kTimedOut;
        pollfd ready{fd_, POLLIN, 0};
        int count = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000)));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return LocalReceiveResult::kFailed;
        if (count == 0) continue;  // the loop head decides whether the deadline has passed
        ssize_t got = ::recv(fd_, buffer + done, size - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return LocalReceiveResult::kFailed;
        if (got == 0) return LocalReceiveResult::kEnded;
        done += static_cast<std::size_t>(got);
    }
    return LocalReceiveResult::kOk;
}

void LocalConnection::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace nimbrel::platform
