#include "suite/ipcmodule/frame_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace ipcmodule {

namespace {

constexpr char kMagic[4] = {'N', 'I', 'P', 'C'};
constexpr std::size_t kHeaderSize = 8;

enum class ReadResult { kOk, kEof, kError, kTimedOut };

using Clock = std::chrono::steady_clock;

ReadResult readExactly(int fd, char* buffer, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ReadResult::kTimedOut;
        pollfd pfd{fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return ReadResult::kError;
        if (ready == 0) return ReadResult::kTimedOut;
        ssize_t got = ::recv(fd, buffer + done, size - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return ReadResult::kError;
        if (got == 0) return ReadResult::kEof;
        done += static_cast<std::size_t>(got);
    }
    return ReadResult::kOk;
}

}  // namespace

FrameRead readFrame(int fd, std::string& payload, int timeoutMs) {
    payload.clear();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    unsigned char header[kHeaderSize];
    char* headerBytes = reinterpret_cast<char*>(header);

    // The first byte tells a clean close apart from a frame that breaks off.
    switch (readExactly(fd, headerBytes, 1, deadline)) {
        case ReadResult::kOk:
            break;
        case ReadResult::kEof:
            return FrameRead::kClosed;
        case ReadResult::kTimedOut:
            return FrameRead::kTimedOut;
        case ReadResult::kError:
            return FrameRead::kMalformed;
    }
    auto rest = readExactly(fd, headerBytes + 1, kHeaderSize - 1, deadline);
    if (rest == ReadResult::kTimedOut) return FrameRead::kTimedOut;
    if (rest != ReadResult::kOk) return FrameRead::kMalformed;
    if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0) return FrameRead::kMalformed;

    std::size_t length = static_cast<std::size_t>(header[4]) | (static_cast<std::size_t>(header[5]) << 8) |
                         (static_cast<std::size_t>(header[6]) << 16) | (static_cast<std::size_t>(header[7]) << 24);
    if (length > kMaxFramePayload) return FrameRead::kMalformed;
    payload.resize(length);
    if (length == 0) return FrameRead::kOk;
    auto body = readExactly(fd, payload.data(), length, deadline);
    if (body == ReadResult::kTimedOut) return FrameRead::kTimedOut;
    if (body != ReadResult::kOk) {
        payload.clear();
        return FrameRead::kMalformed;
    }
    return FrameRead::kOk;
}

bool writeFrame(int fd, const std::string& payload) {
    if (payload.size() > kMaxFramePayload) return false;
    std::string frame(kMagic, sizeof(kMagic));
    auto length = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) frame += static_cast<char>((length >> shift) & 0xFF);
    frame += payload;

    std::size_t done = 0;
    while (done < frame.size()) {
        ssize_t sent = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace ipcmodule
