#include "platform/idle_socket.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nimbrel::platform {

bool identifySocketFile(const char* path, SocketFileIdentity& identity) {
    struct stat status {};
    if (::stat(path, &status) != 0) {
        identity = {};
        return false;
    }
    identity = {status.st_dev, status.st_ino, ::getpid()};
    return true;
}

bool idleConnectionUsable(int fd, const SocketFileIdentity& madeTo, const char* path) {
    if (fd < 0 || madeTo.owner != ::getpid()) return false;
    pollfd state{fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&state, 1, 0) != 0) return false;
    struct stat status {};
    return ::stat(path, &status) == 0 && status.st_dev == madeTo.device && status.st_ino == madeTo.inode;
}

}  // namespace nimbrel::platform
