#pragma once
// The listening end of a named local channel (see local_connection.h).

#include <string>

#include "platform/local_connection.h"

namespace nimbrel::platform {

class LocalListener {
public:
    LocalListener() = default;
    ~LocalListener();
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    // Closes what this object held, then takes `channelName`. The name's file in the runtime folder
    // is replaced, so a listener that died without cleaning up never blocks its successor; the
    // newest listener of a name is the one peers reach. The file stays behind after close, and a
    // connect to it reports that nobody listens. False when the name does not fit or the system
    // refuses.
    bool listen(const std::wstring& channelName);

    // Waits for the next peer and hands its connection over. False when no connection could be
    // taken (not listening, or out of descriptors or memory); the caller decides when to retry.
    bool accept(LocalConnection& connection);
    void close();

private:
    int fd_ = -1;
};

}  // namespace nimbrel::platform
