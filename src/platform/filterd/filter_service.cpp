#include "filter_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "cf_filter_service.h"
#include "cf_store.h"
#include "platform/socket_address.h"

namespace nimbrel::platform::cf {

namespace {

// The lock says one service runs here; the process id in it lets filter ports know it.
int takeServiceLock() {
    int fd = ::open(filterServiceLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int listenOn(const std::string& path) {
    sockaddr_un address;
    if (!unixSocketAddress(path, address)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Only the lock holder gets here, so a socket file left behind belongs to a service that is gone.
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void reply(int client, bool ok, int descriptor = -1) {
    char text[] = "ok\n";
    if (!ok) std::memcpy(text, "no\n", 3);
    iovec io{text, 3};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (ok && descriptor >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        cmsghdr* part = CMSG_FIRSTHDR(&message);
        part->cmsg_level = SOL_SOCKET;
        part->cmsg_type = SCM_RIGHTS;
        part->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(part), &descriptor, sizeof(int));
    }
    ::sendmsg(client, &message, MSG_NOSIGNAL);
}

std::string readLine(int client) {
    std::string line;
    char c = 0;
    while (line.size() < 8192 && ::read(client, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

// NIMBREL_CFD_OWNER names a process whose end stops the service as a clean stop does: a test run
// killed half-way must not leave its mounts on the machine. -1 when unset; -2 when the owner is gone.
int watchOwner() {
    const char* owner = std::getenv("NIMBREL_CFD_OWNER");
    if (!owner || !*owner) return -1;
    // glibc 2.36 declares pidfd_open without C linkage, so the system call is made directly.
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(std::atol(owner)), 0));
    return fd >= 0 ? fd : -2;
}

}  // namespace

bool FilterService::sync() {
    auto store = CfStore::current();
    if (!store) return false;
    std::set<std::string> registered;
    bool ok = true;
    for (const auto& root : store->roots()) {
        registered.insert(root.path);
        if (mounts_.count(root.path)) continue;
        auto mount = RootMount::mount(root.path);
        if (mount) {
            mounts_[root.path] = std::move(mount);
        } else {
            ok = false;
        }
    }
    for (auto it = mounts_.begin(); it != mounts_.end();) {
        it = registered.count(it->first) ? std::next(it) : mounts_.erase(it);
    }
    return ok;
}

void FilterService::handle(int client) {
    const std::string line = readLine(client);
    const auto space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (command == "sync") {
        reply(client, sync());
    } else if (command == "unmount") {
        reply(client, mounts_.erase(argument) > 0);
    } else if (command == "covered") {
        auto found = mounts_.find(argument);
        reply(client, found != mounts_.end(), found != mounts_.end() ? found->second->covered() : -1);
    } else if (command == "changed") {
        auto found = std::find_if(mounts_.begin(), mounts_.end(),
                                  [&](const auto& mount) { return isSameOrBelow(argument, mount.first); });
        if (found != mounts_.end()) found->second->invalidate(argument);
        reply(client, found != mounts_.end());
    } else if (command == "stop") {
        mounts_.clear();
        stopping_ = true;
        reply(client, true);
    } else {
        reply(client, false);
    }
}

int FilterService::run() {
    const int lock = takeServiceLock();
    if (lock < 0) return 0;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    const int owner = watchOwner();
    if (owner == -2) return 0;
    const int listener = listenOn(filterServiceSocketPath());
    if (listener < 0 || signalFd < 0) {
        std::fprintf(stderr, "nimbrel-cfd: cannot listen on %s: %s\n", filterServiceSocketPath().c_str(),
                     std::strerror(errno));
        return 1;
    }
    // Roots registered while no service ran are covered from the start.
    sync();
    while (!stopping_) {
        pollfd waiting[3] = {{listener, POLLIN, 0}, {signalFd, POLLIN, 0}, {owner, POLLIN, 0}};
        if (::poll(waiting, owner >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if ((waiting[1].revents | waiting[2].revents) & POLLIN) break;
        if (waiting[0].revents & POLLIN) {
            int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            handle(client);
            ::close(client);
        }
    }
    mounts_.clear();
    ::unlink(filterServiceSocketPath().c_str());
    ::close(listener);
    ::close(signalFd);
    if (owner >= 0) ::close(owner);
    ::close(lock);
    return 0;
}

}  // namespace nimbrel::platform::cf
