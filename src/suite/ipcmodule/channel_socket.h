#pragma once
// A named channel is a Unix stream socket in the runtime folder, so that two processes with the
// same NIMBREL_RUNTIME_DIR find each other and two test runs never do.

#include <string>

namespace ipcmodule {

// The socket path of a channel; empty when the name does not fit a socket address.
std::string channelSocketPath(const std::string& channelName);

// A listening socket bound to `path` (a stale socket file is replaced); -1 on failure.
int listenOn(const std::string& path);
// A connected socket, or -1 when nobody listens there.
int connectTo(const std::string& path);
void closeSocket(int fd);

}  // namespace ipcmodule
