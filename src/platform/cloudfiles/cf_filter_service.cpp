#include "cf_filter_service.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/platform_paths.h"
#include "platform/socket_address.h"

namespace nimbrel::platform::cf {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(20);
// A mount waits for the kernel's answer to its first request, so commands get a generous limit.
constexpr int kReplyLimitMs = 60000;

std::string homeHash() {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : platformHome()) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string serviceExecutable() {
    const char* configured = std::getenv("NIMBREL_CFD");
    if (configured && *configured) return std::strcmp(configured, "off") == 0 ? std::string() : configured;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&serviceExecutable), &info) == 0 || !info.dli_fname) return {};
    std::string library = info.dli_fname;
    auto slash = library.rfind('/');
    std::string candidate = (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) + "/nimbrel-cfd";
    return ::access(candidate.c_str(), X_OK) == 0 ? candidate : std::string();
}

int connectToService() {
    sockaddr_un address;
    if (!unixSocketAddress(filterServiceSocketPath(), address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Detached twice, so the service is nobody's child and outlives whoever started it; it inherits
// no descriptor, or a caller reading a pipe to its end would wait for the service too.
bool spawn(const std::string& executable) {
    pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::close_range(3, ~0U, 0);
        ::execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

bool receiveReply(int fd, int* descriptor) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, kReplyLimitMs) <= 0) return false;
    char text[8] = {};
    iovec io{text, sizeof(text) - 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t n = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    if (n <= 0) return false;
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_RIGHTS) {
            int passed = -1;
            std::memcpy(&passed, CMSG_DATA(part), sizeof(int));
            if (descriptor) {
                *descriptor = passed;
            } else {
                ::close(passed);
            }
        }
    }
    return std::strncmp(text, "ok", 2) == 0;
}

}  // namespace

std::string filterServiceSocketPath() { return runtimeDir() + "/cfd-" + homeHash() + ".sock"; }

std::string filterServiceLockPath() { return runtimeDir() + "/cfd-" + homeHash() + ".lock"; }

pid_t filterServicePid() {
    int fd = ::open(filterServiceLockPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    // A lock file nobody holds was left by a service that is gone.
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        ::close(fd);
        return 0;
    }
    char text[32] = {};
    ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
    ::close(fd);
    return n > 0 ? static_cast<pid_t>(std::atol(text)) : 0;
}

bool ensureFilterService() {
    if (int fd = connectToService(); fd >= 0) {
        ::close(fd);
        return true;
    }
    const std::string executable = serviceExecutable();
    if (executable.empty() || !spawn(executable)) return false;
    const auto limit = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < limit) {
        if (int fd = connectToService(); fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool filterServiceCommand(const std::string& line, int* descriptor) {
    int fd = connectToService();
    if (fd < 0) return false;
    const std::string text = line + "\n";
    bool ok = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size()) &&
              receiveReply(fd, descriptor);
    ::close(fd);
    return ok;
}

}  // namespace nimbrel::platform::cf
