#pragma once
// The module's wire format: every message is one frame, the magic "NIPC", the payload length as
// a 32-bit little-endian number and the payload (UTF-8 text). A connection carries one request
// frame and at most one reply frame.

#include <cstddef>
#include <string>

#include "platform/local_connection.h"

namespace ipcmodule {

constexpr std::size_t kMaxFramePayload = 64u * 1024u * 1024u;

enum class FrameRead {
    kOk,
    kClosed,     // the peer closed the connection before a frame began
    kMalformed,  // bad magic, oversized length, or the connection ended inside the frame
    kTimedOut,
};

// Waits at most `timeoutMs` for the whole frame.
FrameRead readFrame(nimbrel::platform::LocalConnection& connection, std::string& payload, int timeoutMs);
bool writeFrame(nimbrel::platform::LocalConnection& connection, const std::string& payload);

}  // namespace ipcmodule
