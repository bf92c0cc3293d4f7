#include "suite/ipcmodule/ipc_channel.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/local_listener.h"
#include "platform/platform_paths.h"
#include "suite/ipcmodule/frame_io.h"

namespace ipcmodule {

namespace {

using nimbrel::platform::LocalConnection;
using nimbrel::platform::LocalConnectResult;
using nimbrel::platform::LocalListener;

constexpr int kDefaultTimeoutMs = 20000;
constexpr auto kListenRetry = std::chrono::milliseconds(200);
// Idle connections kept per channel; a burst beyond it closes its extra connections when done.
constexpr std::size_t kMaxIdle = 8;

}  // namespace

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
    std::thread(&IpcChannel::listenLoop, this, nimbrel::platform::fromUtf8(receiveChannel)).detach();
    return true;
}

std::wstring IpcChannel::peerChannel() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return nimbrel::platform::fromUtf8(sendChannel_);
}

bool IpcChannel::isReady() {
    if (!listening_) return false;
    LocalConnection probe;
    return probe.connect(peerChannel()) == LocalConnectResult::kConnected;
}

void IpcChannel::listenLoop(std::wstring channelName) {
    LocalListener listener;
    while (!listener.listen(channelName)) std::this_thread::sleep_for(kListenRetry);
    listening_ = true;
    for (;;) {
        auto connection = std::make_shared<LocalConnection>();
        if (!listener.accept(*connection)) {
            // Out of descriptors or memory: give the running requests time to finish.
            std::this_thread::sleep_for(kListenRetry);
            continue;
        }
        std::thread(&IpcChannel::serveConnection, this, std::move(connection)).detach();
    }
}

void IpcChannel::serveConnection(Connection connection) {
    for (;;) {
        std::string payload;
        // A probe, a peer that leaves, a malformed frame or a stalled sender ends only this connection.
        if (readFrame(*connection, payload, timeoutMs(), FrameStart::kWhenever) != FrameRead::kOk) return;

        std::string name;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            name = receiveChannel_ + "#" + std::to_string(nextRequest_++);
            pending_[name] = connection;
        }
        receiver_->OnRequest(name.c_str(), nimbrel::platform::fromUtf8(payload));
        std::lock_guard<std::mutex> lock(mutex_);
        // Still pending: the handler left it unanswered, and only the end of the connection can
        // tell the requester so.
        if (pending_.erase(name) != 0) return;
    }
}

int IpcChannel::reply(const char* ipcName, const std::wstring& text) {
    if (!ipcName) return -1;
    Connection connection;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = pending_.find(ipcName);
        if (found == pending_.end()) return -1;
        connection = found->second;
        pending_.erase(found);
    }
    return writeFrame(*connection, nimbrel::platform::toUtf8(text)) ? 0 : -1;
}

std::unique_ptr<LocalConnection> IpcChannel::takeIdle() {
    std::lock_guard<std::mutex> lock(idleMutex_);
    while (!idle_.empty()) {
        auto connection = std::move(idle_.back());
        idle_.pop_back();
        if (connection->reusable()) return connection;
    }
    return nullptr;
}

void IpcChannel::keepIdle(std::unique_ptr<LocalConnection> connection) {
    std::lock_guard<std::mutex> lock(idleMutex_);
    if (idle_.size() < kMaxIdle) idle_.push_back(std::move(connection));
}

int IpcChannel::request(const std::wstring& text, std::wstring& reply) {
    reply.clear();
    if (!started_) return kIpcRequestNotStarted;
    const std::string frame = nimbrel::platform::toUtf8(text);
    if (frame.size() > kMaxFramePayload) return kIpcRequestBrokenFrame;

    // A peer that ends between the check of an idle connection and the request refuses the frame
    // unread, so the request moves on to the next connection, in the end to a fresh one.
    auto connection = takeIdle();
    while (connection && !writeFrame(*connection, frame)) connection = takeIdle();
    if (!connection) {
        connection = std::make_unique<LocalConnection>();
        switch (connection->connect(peerChannel())) {
            case LocalConnectResult::kConnected:
                break;
            case LocalConnectResult::kNobodyListens:
                return kIpcRequestPeerGone;
            case LocalConnectResult::kFailed:
                return kIpcRequestBrokenFrame;
        }
        if (!writeFrame(*connection, frame)) return kIpcRequestBrokenFrame;
    }

    std::string payload;
    switch (readFrame(*connection, payload, timeoutMs())) {
        case FrameRead::kOk:
            reply = nimbrel::platform::fromUtf8(payload);
            keepIdle(std::move(connection));
            return kIpcRequestOk;
        case FrameRead::kClosed:
            return kIpcRequestNoReply;
        case FrameRead::kTimedOut:
            // A late reply would answer the next request on this connection: it goes.
            return kIpcRequestTimedOut;
        case FrameRead::kMalformed:
            break;
    }
    return kIpcRequestBrokenFrame;
}

}  // namespace ipcmodule
