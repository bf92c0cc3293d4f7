#include "platform/local_listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "local_channel_address.h"

namespace nimbrel::platform {

LocalListener::~LocalListener() { close(); }

bool LocalListener::listen(const std::wstring& channelName) {
    close();
    sockaddr_un address;
    if (!localChannelAddress(channelName, address)) return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ::unlink(address.sun_path);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool LocalListener::accept(LocalConnection& connection) {
    if (fd_ < 0) return false;
    for (;;) {
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            connection.close();
            connection.fd_ = fd;
            return true;
        }
        // A signal or a peer that gave up while queued says nothing about the next peer.
        if (errno != EINTR && errno != ECONNABORTED) return false;
    }
}

void LocalListener::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace nimbrel::platform
