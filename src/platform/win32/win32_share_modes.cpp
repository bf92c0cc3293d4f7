#include "win32_share_modes.h"

#include <fcntl.h>
#include <unistd.h>

namespace nimbrel::platform {
namespace {

// A byte far past any real data: locking it never gets in the way of an application's own locks.
constexpr off_t kNoDeleteSharingByte = 0x7ffffffffffffff0;

struct flock markerLock(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kNoDeleteSharingByte;
    lock.l_len = 1;
    return lock;
}

}  // namespace

void refuseDeleteSharing(int fd) {
    // A shared lock needs a readable descriptor and an exclusive one a writable descriptor;
    // attribute-only opens (O_PATH) take none, as they cannot keep data in use.
    int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0 || (mode & O_PATH)) return;
    struct flock lock = markerLock((mode & O_ACCMODE) == O_WRONLY ? F_WRLCK : F_RDLCK);
    ::fcntl(fd, F_OFD_SETLK, &lock);
}

bool deleteSharingRefused(const std::string& hostPath) {
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct flock lock = markerLock(F_WRLCK);
    bool refused = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return refused;
}

}  // namespace nimbrel::platform
