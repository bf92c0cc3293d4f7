#pragma once
// The channel object handed out by CreateIpcInterface: a listener on the own receiving channel,
// each of whose connections is served by a thread of its own for as long as the peer keeps it,
// and a small pool of idle connections to the peer for outgoing requests, so that a stream of
// requests costs no connect, accept or thread start each while concurrent requests still travel
// side by side.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/local_connection.h"
#include "suite/ipcmodule/ipc_interface.h"

namespace ipcmodule {

class IpcChannel : public IIpcInterface {
public:
    explicit IpcChannel(IRequestNotify* receiver);
    IpcChannel(const IpcChannel&) = delete;
    IpcChannel& operator=(const IpcChannel&) = delete;

    bool start(const char* receiveChannel, const char* sendChannel) override;
    bool isReady() override;
    int request(const std::wstring& text, std::wstring& reply) override;
    int reply(const char* ipcName, const std::wstring& text) override;

    // NIMBREL_IPC_TIMEOUT_MS when it holds a positive number, else 20000.
    static int timeoutMs();

private:
    // An accepted request connection is shared by its handler and a pending reply; it closes when
    // the last holder lets go, so a reply that races the end of its handler never writes to a
    // descriptor the system has handed out again.
    using Connection = std::shared_ptr<nimbrel::platform::LocalConnection>;

    void listenLoop(std::wstring channelName);
    void serveConnection(Connection connection);
    std::wstring peerChannel() const;
    // An idle connection to the peer that still leads to its current listener, else null.
    std::unique_ptr<nimbrel::platform::LocalConnection> takeIdle();
    void keepIdle(std::unique_ptr<nimbrel::platform::LocalConnection> connection);

    IRequestNotify* receiver_;
    std::atomic<bool> started_{false};
    std::atomic<bool> listening_{false};
    std::atomic<unsigned long long> nextRequest_{1};
    mutable std::mutex mutex_;  // guards the names and the pending map
    std::string receiveChannel_;
    std::string sendChannel_;
    std::map<std::string, Connection> pending_;
    std::mutex idleMutex_;
    std::vector<std::unique_ptr<nimbrel::platform::LocalConnection>> idle_;
};

}  // namespace ipcmodule
