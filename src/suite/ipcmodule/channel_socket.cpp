#include "suite/ipcmodule/channel_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform_paths.h"

namespace ipcmodule {

namespace {

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

std::string channelSocketPath(const std::string& channelName) {
    std::string path = nimbrel::platform::runtimeDir() + "/ipc-" +
                       nimbrel::platform::objectFileName(nimbrel::platform::fromUtf8(channelName));
    sockaddr_un address;
    return fillAddress(path, address) ? path : std::string();
}

int listenOn(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectTo(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeSocket(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace ipcmodule
