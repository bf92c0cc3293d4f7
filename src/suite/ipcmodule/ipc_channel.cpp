#include "suite/ipcmodule/ipc_channel.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/platform_paths.h"
#include "suite/ipcmodule/channel_socket.h"
#include "suite/ipcmodule/frame_io.h"

namespace ipcmodule {

namespace {

constexpr int kDefaultTimeoutMs = 20000;
constexpr auto kListenRetry = std::chrono::milliseconds(200);

}  // namespace

// One accepted request connection; the socket is closed when the last holder lets go, so a
// reply that races the end of its handler never writes to a reused descriptor.
class IpcChannel::Connection {
public:
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() { closeSocket(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

IpcChannel::IpcChannel(IRequestNotify* receiver) : receiver_(receiver) {}

int IpcChannel::timeoutMs() {
    const char* value = std::getenv("NIMBREL_IPC_TIMEOUT_MS");
    if (!value || !*value) return kDefaultTimeoutMs;
    char* end = nullptr;
    long parsed = std::strtol(value, &end, 10);
    if (*end != '\0' || parsed <= 0 || parsed > 24L * 3600 * 1000) return kDefaultTimeoutMs;
    return static_cast<int>(parsed);
}

bool IpcChannel::start(const char* receiveChannel, const char* sendChannel) {
    if (!receiveChannel || !sendChannel) return false;
    if (started_.exchange(true)) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        receiveChannel_ = receiveChannel;
        sendChannel_ = sendChannel;
    }
    if (*receiveChannel == '\0') {
        listening_ = true;
        return true;
    }
    std::thread(&IpcChannel::listenLoop, this, channelSocketPath(receiveChannel)).detach();
    return true;
}

std::string IpcChannel::peerPath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return channelSocketPath(sendChannel_);
}

bool IpcChannel::isReady() {
    if (!listening_) return false;
    int fd = connectTo(peerPath());
    if (fd < 0) return false;
    closeSocket(fd);
    return true;
}

void IpcChannel::listenLoop(std::string path) {
    int listener = -1;
    while ((listener = listenOn(path)) < 0) std::this_thread::sleep_for(kListenRetry);
    listening_ = true;
    for (;;) {
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or memory: give the running requests time to finish.
            if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(kListenRetry);
            continue;
        }
        auto connection = std::make_shared<Connection>(fd);
        std::thread(&IpcChannel::serveConnection, this, std::move(connection)).detach();
    }
}

void IpcChannel::serveConnection(std::shared_ptr<Connection> connection) {
    std::string payload;
    // A probe, a malformed frame or a stalled sender ends only this connection.
    if (readFrame(connection->fd(), payload, timeoutMs()) != FrameRead::kOk) return;

    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        name = receiveChannel_ + "#" + std::to_string(nextRequest_++);
        pending_[name] = connection;
    }
    receiver_->OnRequest(name.c_str(), nimbrel::platform::fromUtf8(payload));
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(name);
}

int IpcChannel::reply(const char* ipcName, const std::wstring& text) {
    if (!ipcName) return -1;
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = pending_.find(ipcName);
        if (found == pending_.end()) return -1;
        connection = found->second;
        pending_.erase(found);
    }
    return writeFrame(connection->fd(), nimbrel::platform::toUtf8(text)) ? 0 : -1;
}

int IpcChannel::request(const std::wstring& text, std::wstring& reply) {
    reply.clear();
    if (!started_) return kIpcRequestNotStarted;
    int fd = connectTo(peerPath());
    if (fd < 0) return kIpcRequestPeerGone;
    Connection connection(fd);
    if (!writeFrame(fd, nimbrel::platform::toUtf8(text))) return kIpcRequestBrokenFrame;

    std::string payload;
    switch (readFrame(fd, payload, timeoutMs())) {
        case FrameRead::kOk:
            reply = nimbrel::platform::fromUtf8(payload);
            return kIpcRequestOk;
        case FrameRead::kClosed:
            return kIpcRequestNoReply;
        case FrameRead::kTimedOut:
            return kIpcRequestTimedOut;
        case FrameRead::kMalformed:
            break;
    }
    return kIpcRequestBrokenFrame;
}

}  // namespace ipcmodule
