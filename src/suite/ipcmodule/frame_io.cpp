#include "suite/ipcmodule/frame_io.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace ipcmodule {

namespace {

using nimbrel::platform::LocalConnection;
using nimbrel::platform::LocalReceiveResult;

constexpr char kMagic[4] = {'N', 'I', 'P', 'C'};
constexpr std::size_t kHeaderSize = 8;

}  // namespace

FrameRead readFrame(LocalConnection& connection, std::string& payload, int timeoutMs, FrameStart start) {
    using Clock = std::chrono::steady_clock;
    payload.clear();
    unsigned char header[kHeaderSize];
    char* headerBytes = reinterpret_cast<char*>(header);

    // The first byte tells a clean close apart from a frame that breaks off.
    const auto firstByte =
        start == FrameStart::kWhenever ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    switch (connection.receiveExactly(headerBytes, 1, firstByte)) {
        case LocalReceiveResult::kOk:
            break;
        case LocalReceiveResult::kEnded:
            return FrameRead::kClosed;
        case LocalReceiveResult::kTimedOut:
            return FrameRead::kTimedOut;
        case LocalReceiveResult::kFailed:
            return FrameRead::kMalformed;
    }
    const auto deadline =
        start == FrameStart::kWhenever ? Clock::now() + std::chrono::milliseconds(timeoutMs) : firstByte;
    auto rest = connection.receiveExactly(headerBytes + 1, kHeaderSize - 1, deadline);
    if (rest == LocalReceiveResult::kTimedOut) return FrameRead::kTimedOut;
    if (rest != LocalReceiveResult::kOk) return FrameRead::kMalformed;
    if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0) return FrameRead::kMalformed;

    std::size_t length = static_cast<std::size_t>(header[4]) | (static_cast<std::size_t>(header[5]) << 8) |
                         (static_cast<std::size_t>(header[6]) << 16) | (static_cast<std::size_t>(header[7]) << 24);
    if (length > kMaxFramePayload) return FrameRead::kMalformed;
    payload.resize(length);
    if (length == 0) return FrameRead::kOk;
    auto body = connection.receiveExactly(payload.data(), length, deadline);
    if (body == LocalReceiveResult::kTimedOut) return FrameRead::kTimedOut;
    if (body != LocalReceiveResult::kOk) {
        payload.clear();
        return FrameRead::kMalformed;
    }
    return FrameRead::kOk;
}

bool writeFrame(LocalConnection& connection, const std::string& payload) {
    if (payload.size() > kMaxFramePayload) return false;
    std::string frame(kMagic, sizeof(kMagic));
    auto length = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) frame += static_cast<char>((length >> shift) & 0xFF);
    frame += payload;
    return connection.sendAll(frame.data(), frame.size());
}

}  // namespace ipcmodule
