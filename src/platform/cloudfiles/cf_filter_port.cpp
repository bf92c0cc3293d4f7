#include "cf_filter_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cf_filter_service.h"
#include "platform/idle_socket.h"
#include "platform/platform_paths.h"
#include "platform/socket_address.h"

namespace nimbrel::platform::cf {

namespace {

struct RequestFrame {
    std::uint32_t operation;
    std::uint32_t pathBytes;
    std::int64_t offset;
    std::int64_t length;
};

enum class ReplyKind : std::uint32_t { Progress = 1, Result = 2 };

struct ReplyFrame {
    std::uint32_t kind;
    std::int32_t status;
    std::int64_t total;
    std::int64_t completed;
};

constexpr std::uint32_t kMaxPathBytes = 16 * 1024;
// The port answers an open as soon as it has queued the notification. A provider killed while one
// of its own threads opens a file through the filter mount keeps its sockets until that open ends,
// so without a limit the mount's open and the provider's would wait for each other for ever.
constexpr std::chrono::seconds kOpenReplyLimit{5};
// How often a request waiting for its answer looks whether the provider is being killed.
constexpr int kProviderCheckMs = 500;

std::string rootHash(const std::string& rootPath) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : rootPath) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool readAll(int fd, void* buffer, std::size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t n = ::read(fd, out, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A process that is being killed: its first thread has ended, or a kill waits for a thread of it.
bool beingKilled(pid_t pid) {
    FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!file) return true;
    bool killed = false;
    char line[256];
    while (std::fgets(line, sizeof(line), file)) {
        if (std::strncmp(line, "State:", 6) == 0) {
            const char* state = line + 6 + std::strspn(line + 6, " \t");
            killed = killed || *state == 'Z' || *state == 'X';
        } else if (std::strncmp(line, "SigPnd:", 7) == 0 || std::strncmp(line, "ShdPnd:", 7) == 0) {
            killed = killed || (std::strtoull(line + 7, nullptr, 16) & (1ULL << (SIGKILL - 1)));
        }
    }
    std::fclose(file);
    return killed;
}

// Waits until the next frame of an answer arrives. A provider answers every request in the end, if
// only when its fetch time-out cancels it; one that is being killed cannot, and while a thread of it
// waits in the filter mount for a page that a reader waiting on this very request holds, it cannot
// end and close the port either: so its end is watched for, not only its port.
bool answerArrives(int fd, pid_t provider, std::chrono::steady_clock::time_point limit) {
    for (;;) {
        pollfd port{fd, POLLIN, 0};
        const int ready = ::poll(&port, 1, kProviderCheckMs);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= limit || (provider > 0 && beingKilled(provider))) return false;
    }
}

bool writeAll(int fd, const void* buffer, std::size_t size) {
    auto* in = static_cast<const char*>(buffer);
    while (size > 0) {
        ssize_t n = ::send(fd, in, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        in += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

pid_t peerOf(int client) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return 0;
    return credentials.pid;
}

bool onBehalf(std::uint32_t operation) {
    return operation == static_cast<std::uint32_t>(PortOperation::OpenFor) ||
           operation == static_cast<std::uint32_t>(PortOperation::ReadFor);
}

Requester describeProcess(pid_t pid) {
    Requester requester;
    if (pid <= 0) return requester;
    requester.processId = static_cast<DWORD>(pid);
    const std::string proc = "/proc/" + std::to_string(pid);
    char image[PATH_MAX];
    ssize_t n = ::readlink((proc + "/exe").c_str(), image, sizeof(image) - 1);
    if (n > 0) requester.imagePath.assign(image, static_cast<std::size_t>(n));
    FILE* cmdline = std::fopen((proc + "/cmdline").c_str(), "rb");
    if (cmdline) {
        char buffer[4096];
        std::size_t got = std::fread(buffer, 1, sizeof(buffer), cmdline);
        std::fclose(cmdline);
        for (std::size_t i = 0; i < got; ++i) {
            if (buffer[i] == '\0') buffer[i] = ' ';
        }
        while (got > 0 && buffer[got - 1] == ' ') --got;
        requester.commandLine.assign(buffer, got);
    }
    return requester;
}

}  // namespace

std::string portSocketPath(const std::string& rootPath) { return runtimeDir() + "/cf-" + rootHash(rootPath) + ".sock"; }

std::string connectionLockPath(const std::string& rootPath) {
    return runtimeDir() + "/cf-" + rootHash(rootPath) + ".lock";
}

FilterPort::FilterPort(std::shared_ptr<FilterCore> core) : core_(std::move(core)) {}

FilterPort::~FilterPort() { stop(); }

int FilterPort::start(const std::string& rootPath) {
    socketPath_ = portSocketPath(rootPath);
    sockaddr_un address;
    if (!unixSocketAddress(socketPath_, address)) return ENAMETOOLONG;
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return errno;
    // Only the holder of the root's connection lock gets here, so a socket file left behind
    // belongs to a provider that is gone.
    ::unlink(socketPath_.c_str());
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 64) != 0) {
        int error = errno;
        ::close(listener_);
        listener_ = -1;
        return error;
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return 0;
}

void FilterPort::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);
        for (int client : clients_) ::shutdown(client, SHUT_RDWR);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(socketPath_.c_str());
        listener_ = -1;
    }
    std::unique_lock lock(mutex_);
    served_.wait(lock, [this] { return clients_.empty(); });
}

void FilterPort::acceptLoop() {
    for (;;) {
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(client);
            return;
        }
        clients_.push_back(client);
        std::thread([this, client] { serve(client); }).detach();
    }
}

void FilterPort::serve(int client) {
    const pid_t peer = peerOf(client);
    bool fromService = false;
    while (serveRequest(client, peer, fromService)) {
    }
    std::lock_guard lock(mutex_);
    ::close(client);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
    served_.notify_all();
}

bool FilterPort::serveRequest(int client, pid_t peer, bool& fromService) {
    RequestFrame request{};
    if (!readAll(client, &request, sizeof(request)) || request.pathBytes > kMaxPathBytes) return false;
    std::string path(request.pathBytes, '\0');
    std::uint32_t onBehalfOf = 0;
    if (!readAll(client, path.data(), path.size())) return false;
    if (onBehalf(request.operation)) {
        // Only the filter service speaks for another process; anyone else would forge a requester. A
        // connection's peer never changes, and a filter service gives way only by ending.
        if (!readAll(client, &onBehalfOf, sizeof(onBehalfOf))) return false;
        fromService = fromService || (peer != 0 && peer == filterServicePid());
        if (!fromService) return false;
    }
    const Requester requester = describeProcess(onBehalfOf ? static_cast<pid_t>(onBehalfOf) : peer);
    NTSTATUS status = STATUS_SUCCESS;
    if (request.operation == static_cast<std::uint32_t>(PortOperation::Open) ||
        request.operation == static_cast<std::uint32_t>(PortOperation::OpenFor)) {
        core_->notifyOpen(path, requester);
    } else {
        std::mutex writeMutex;
        status = core_->requestData(
            path, request.offset, request.length, requester, [&](std::int64_t total, std::int64_t completed) {
                ReplyFrame frame{static_cast<std::uint32_t>(ReplyKind::Progress), 0, total, completed};
                std::lock_guard lock(writeMutex);
                writeAll(client, &frame, sizeof(frame));
            });
    }
    ReplyFrame result{static_cast<std::uint32_t>(ReplyKind::Result), status, 0, 0};
    return writeAll(client, &result, sizeof(result));
}

namespace {

// An idle connection of this process to a port, kept so that a stream of requests costs no
// connect, and the provider no accept and thread start, each.
struct PortConnection {
    int fd = -1;
    pid_t provider = 0;
    // The socket file as it was just before the connect: a provider that starts anew replaces it.
    SocketFileIdentity socketFile;
};

constexpr std::size_t kIdlePerPort = 8;

struct IdleConnections {
    std::mutex mutex;
    std::map<std::string, std::vector<PortConnection>> bySocket;
};

IdleConnections& idleConnections() {
    static auto* instance = new IdleConnections;  // requests may still be made during static destruction
    return *instance;
}

PortConnection takeIdle(const std::string& socketPath) {
    auto& idle = idleConnections();
    std::lock_guard lock(idle.mutex);
    auto found = idle.bySocket.find(socketPath);
    while (found != idle.bySocket.end() && !found->second.empty()) {
        const PortConnection connection = found->second.back();
        found->second.pop_back();
        if (idleConnectionUsable(connection.fd, connection.socketFile, socketPath.c_str())) return connection;
        ::close(connection.fd);
    }
    return {};
}

void keepIdle(const std::string& socketPath, const PortConnection& connection) {
    auto& idle = idleConnections();
    std::lock_guard lock(idle.mutex);
    auto& list = idle.bySocket[socketPath];
    if (list.size() < kIdlePerPort) {
        list.push_back(connection);
    } else {
        ::close(connection.fd);
    }
}

NTSTATUS connectPort(const std::string& socketPath, PortConnection& connection) {
    sockaddr_un address;
    if (!unixSocketAddress(socketPath, address)) return STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING;
    if (!identifySocketFile(socketPath.c_str(), connection.socketFile)) return STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING;
    connection.fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connection.fd < 0) return STATUS_CLOUD_FILE_INSUFFICIENT_RESOURCES;
    if (::connect(connection.fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(connection.fd);
        connection.fd = -1;
        return STATUS_CLOUD_FILE_PROVIDER_NOT_RUNNING;
    }
    connection.provider = peerOf(connection.fd);
    return STATUS_SUCCESS;
}

NTSTATUS sendRequest(const std::string& rootPath, PortOperation operation, const std::string& hostPath,
                     std::int64_t offset, std::int64_t length, std::uint32_t requester, const ProgressSink& progress) {
    const std::string socketPath = portSocketPath(rootPath);
    RequestFrame request{static_cast<std::uint32_t>(operation), static_cast<std::uint32_t>(hostPath.size()), offset,
                         length};
    std::string frame(reinterpret_cast<const char*>(&request), sizeof(request));
    frame += hostPath;
    if (onBehalf(request.operation)) frame.append(reinterpret_cast<const char*>(&requester), sizeof(requester));

    PortConnection connection;
    for (;;) {
        connection = takeIdle(socketPath);
        const bool fresh = connection.fd < 0;
        if (fresh) {
            const NTSTATUS status = connectPort(socketPath, connection);
            if (status != STATUS_SUCCESS) return status;
        }
        // The provider's own file-system requests never reach its callbacks, so the filter service
        // answers them without asking it: a provider killed while one of its threads waits in such a
        // request could not answer, and the thread, and with it the dead process, would wait forever.
        // The answer tells the filter service whose request it was.
        if (onBehalf(request.operation) && requester != 0 && connection.provider == static_cast<pid_t>(requester)) {
            keepIdle(socketPath, connection);
            return STATUS_CLOUD_FILE_ACCESS_DENIED;
        }
        if (writeAll(connection.fd, frame.data(), frame.size())) break;
        ::close(connection.fd);
        // An idle connection whose provider ended after the check refuses the request unread.
        if (fresh) return STATUS_CLOUD_FILE_PROVIDER_TERMINATED;
    }
    const bool opening = operation == PortOperation::Open || operation == PortOperation::OpenFor;
    const auto limit =
        opening ? std::chrono::steady_clock::now() + kOpenReplyLimit : std::chrono::steady_clock::time_point::max();
    ReplyFrame reply{};
    while (answerArrives(connection.fd, connection.provider, limit) && readAll(connection.fd, &reply, sizeof(reply))) {
        if (reply.kind == static_cast<std::uint32_t>(ReplyKind::Result)) {
            keepIdle(socketPath, connection);
            return reply.status;
        }
        if (progress) progress(reply.total, reply.completed);
    }
    // Given up on or broken: an answer still on its way must not meet the next request.
    ::close(connection.fd);
    return STATUS_CLOUD_FILE_PROVIDER_TERMINATED;
}

}  // namespace

NTSTATUS requestThroughPort(const std::string& rootPath, PortOperation operation, const std::string& hostPath,
                            std::int64_t offset, std::int64_t length, const ProgressSink& progress) {
    return sendRequest(rootPath, operation, hostPath, offset, length, 0, progress);
}

NTSTATUS requestThroughPortFor(const std::string& rootPath, PortOperation operation, const std::string& hostPath,
                               std::int64_t offset, std::int64_t length, std::uint32_t requester) {
    return sendRequest(rootPath, operation, hostPath, offset, length, requester, {});
}

}  // namespace nimbrel::platform::cf
