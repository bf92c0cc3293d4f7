#include "platform/descriptor_paths.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace nimbrel::platform {

namespace {

constexpr std::string_view kProcSelfFd = "/proc/self/fd/";

// The descriptor and the rest of the path after it ("" for the descriptor's own item), when the
// path starts with /proc/self/fd/N.
bool split(const std::string& path, int& fd, const char*& rest) {
    if (path.compare(0, kProcSelfFd.size(), kProcSelfFd) != 0) return false;
    const char* number = path.c_str() + kProcSelfFd.size();
    const char* end = path.c_str() + path.size();
    auto [stop, error] = std::from_chars(number, end, fd);
    if (error != std::errc() || stop == number || (stop != end && *stop != '/')) return false;
    rest = stop == end ? stop : stop + 1;
    while (*rest == '/') ++rest;
    return true;
}

// The extended-attribute calls relative to a folder descriptor came with Linux 6.13; the C library
// has no wrapper for them yet. Their numbers are the same on every architecture.
constexpr long kSetXattrAt = 463;
constexpr long kGetXattrAt = 464;
constexpr long kListXattrAt = 465;

struct XattrArgs {
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

// False once the kernel turned the calls down: the paths are walked whole from then on.
std::atomic<bool> xattrAtAvailable{true};

// The descriptor and a rest that names an item below it; the descriptor's own item has no such
// name (its link would be the item then).
bool splitBelow(const std::string& path, int& fd, const char*& rest) { return split(path, fd, rest) && *rest; }

// Runs `atCall` for a path below a descriptor while the kernel has the *xattrat calls, else (and
// when it turns out not to have them) `plainCall`.
template <typename AtCall, typename PlainCall>
long xattrCall(const std::string& path, AtCall atCall, PlainCall plainCall) {
    int fd = -1;
    const char* rest = nullptr;
    if (xattrAtAvailable.load(std::memory_order_relaxed) && splitBelow(path, fd, rest)) {
        const long result = atCall(fd, rest);
        // A kernel without the calls answers ENOSYS; a system-call filter that does not know them
        // yet answers EPERM, which the plain call then does not.
        if (result >= 0 || (errno != ENOSYS && errno != EPERM)) return result;
        const bool missing = errno == ENOSYS;
        const long plain = plainCall(path.c_str());
        if (missing || plain >= 0 || errno != EPERM) xattrAtAvailable.store(false, std::memory_order_relaxed);
        return plain;
    }
    return plainCall(path.c_str());
}

}  // namespace

int statPath(const std::string& path, struct ::stat& st, bool followLast) {
    int fd = -1;
    const char* rest = nullptr;
    if (split(path, fd, rest) && (*rest || followLast)) {
        return ::fstatat(fd, rest, &st, (*rest ? 0 : AT_EMPTY_PATH) | (followLast ? 0 : AT_SYMLINK_NOFOLLOW));
    }
    return followLast ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
}

int openPath(const std::string& path, int flags, mode_t mode) {
    int fd = -1;
    const char* rest = nullptr;
    return splitBelow(path, fd, rest) ? ::openat(fd, rest, flags, mode) : ::open(path.c_str(), flags, mode);
}

int openBelowPlainly(int folder, const char* rest, int flags) {
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS;
    return static_cast<int>(::syscall(SYS_openat2, folder, rest, &how, sizeof how));
}

int openPathPlainly(const std::string& path, int flags, bool& plain) {
    plain = false;
    int fd = -1;
    const char* rest = nullptr;
    if (!splitBelow(path, fd, rest)) return ::open(path.c_str(), flags);
    const int opened = openBelowPlainly(fd, rest, flags);
    if (opened >= 0 || errno != ELOOP) {
        plain = opened >= 0;
        return opened;
    }
    return ::openat(fd, rest, flags);
}

int mkdirPath(const std::string& path, mode_t mode) {
    int fd = -1;
    const char* rest = nullptr;
    return splitBelow(path, fd, rest) ? ::mkdirat(fd, rest, mode) : ::mkdir(path.c_str(), mode);
}

int removePath(const std::string& path, bool folder) {
    int fd = -1;
    const char* rest = nullptr;
    if (splitBelow(path, fd, rest)) return ::unlinkat(fd, rest, folder ? AT_REMOVEDIR : 0);
    return folder ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
}

int renamePath(const std::string& from, const std::string& to, unsigned flags) {
    int fromFd = AT_FDCWD;
    int toFd = AT_FDCWD;
    const char* fromRest = nullptr;
    const char* toRest = nullptr;
    if (!splitBelow(from, fromFd, fromRest)) fromRest = from.c_str();
    if (!splitBelow(to, toFd, toRest)) toRest = to.c_str();
    return ::renameat2(fromFd, fromRest, toFd, toRest, flags);
}

int setTimesPath(const std::string& path, const struct timespec times[2]) {
    int fd = -1;
    const char* rest = nullptr;
    return splitBelow(path, fd, rest) ? ::utimensat(fd, rest, times, 0) : ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

ssize_t getXattrPath(const std::string& path, const char* name, void* value, size_t size, bool followLast) {
    return xattrCall(
        path,
        [&](int fd, const char* rest) {
            XattrArgs args{reinterpret_cast<std::uintptr_t>(value), static_cast<std::uint32_t>(size), 0};
            return ::syscall(kGetXattrAt, fd, rest, followLast ? 0 : AT_SYMLINK_NOFOLLOW, name, &args, sizeof args);
        },
        [&](const char* plain) -> long {
            return followLast ? ::getxattr(plain, name, value, size) : ::lgetxattr(plain, name, value, size);
        });
}

ssize_t listXattrPath(const std::string& path, char* names, size_t size, bool followLast) {
    return xattrCall(
        path,
        [&](int fd, const char* rest) {
            return ::syscall(kListXattrAt, fd, rest, followLast ? 0 : AT_SYMLINK_NOFOLLOW, names, size);
        },
        [&](const char* plain) -> long {
            return followLast ? ::listxattr(plain, names, size) : ::llistxattr(plain, names, size);
        });
}

int setXattrPath(const std::string& path, const char* name, const void* value, size_t size) {
    return static_cast<int>(xattrCall(
        path,
        [&](int fd, const char* rest) {
            XattrArgs args{reinterpret_cast<std::uintptr_t>(value), static_cast<std::uint32_t>(size), 0};
            return ::syscall(kSetXattrAt, fd, rest, 0, name, &args, sizeof args);
        },
        [&](const char* plain) -> long { return ::setxattr(plain, name, value, size, 0); }));
}

}  // namespace nimbrel::platform
