#pragma once
// How the reference cloud's content server is told to misbehave, for tests and demonstrations.

#include <cstdint>

struct ContentMisbehaviour {
    std::int64_t rateBytesPerSecond = 0;  // 0: as fast as possible
    std::int64_t failAfterBytes = -1;     // drop the connection once a body has sent this many bytes
    bool wrongSize = false;
    bool refuseMetadata = false;
    int answerDelayMs = 0;
};
