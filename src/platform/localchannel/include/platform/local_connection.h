#pragma once
// A named local channel between two processes on this machine: a listener takes a channel name
// in the runtime folder, peers connect to it by the same name. Two processes meet only when they
// share NIMBREL_RUNTIME_DIR, which is read at every listen and connect.

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/idle_socket.h"

namespace nimbrel::platform {

enum class LocalConnectResult {
    kConnected,
    kNobodyListens,  // no listener holds the name (never did, or it is gone)
    kFailed,         // the system refused for another reason (out of descriptors, access)
};

enum class LocalReceiveResult {
    kOk,
    kEnded,     // the peer closed the connection before all bytes arrived
    kTimedOut,  // the deadline passed first
    kFailed,
};

// One stream connection; closed when it is destroyed. Sending and receiving may happen on two
// threads at once, but only one thread sends and one receives.
class LocalConnection {
public:
    LocalConnection() = default;
    ~LocalConnection();
    LocalConnection(const LocalConnection&) = delete;
    LocalConnection& operator=(const LocalConnection&) = delete;

    // Closes what this object held, then connects to the listener of `channelName`.
    LocalConnectResult connect(const std::wstring& channelName);
    // Whether the connection can carry another exchange: still open, the peer has neither closed
    // it nor sent anything unasked, and the name it was made to still leads to the same listener
    // (a newer listener of a name takes its peers over from the old one). Never in a child forked
    // since the connect: parent and child would talk over each other.
    bool reusable() const;

    // Sends every byte, waiting while the peer reads; false when the connection is closed or
    // broken. A peer that has gone away fails the call, it never ends the process.
    bool sendAll(const char* data, std::size_t size);
    // Fills `buffer` with exactly `size` bytes unless the peer ends, the deadline passes or the
    // connection breaks; the bytes read so far are then lost to the caller. Bytes that are late are
    // first waited for awake, for a few tens of microseconds, before the thread sleeps.
    LocalReceiveResult receiveExactly(char* buffer, std::size_t size, std::chrono::steady_clock::time_point deadline);
    void close();

private:
    friend class LocalListener;
    int fd_ = -1;
    std::wstring channelName_;
    SocketFileIdentity listener_;  // the name's socket file as it was just before the connect
};

}  // namespace nimbrel::platform
