#pragma once
// The module's wire format: every message is one frame, the magic "NIPC", the payload length as
// a 32-bit little-endian number and the payload (UTF-8 text). A connection carries a series of
// exchanges, one at a time: a request frame, then its reply frame; a request left unanswered
// ends the connection instead of a reply.

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

enum class FrameStart {
    kWithinTimeout,  // the whole frame must arrive within the time-out
    kWhenever,       // an idle connection waits for its next frame without limit; once the frame
                     // has begun, the rest must arrive within the time-out
};

FrameRead readFrame(nimbrel::platform::LocalConnection& connection, std::string& payload, int timeoutMs,
                    FrameStart start = FrameStart::kWithinTimeout);
bool writeFrame(nimbrel::platform::LocalConnection& connection, const std::string& payload);

}  // namespace ipcmodule
