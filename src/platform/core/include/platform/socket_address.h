#pragma once
// The address of a Unix socket file, for any path: a socket address holds at most 107 bytes of
// path, which a deep runtime folder outgrows.

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace nimbrel::platform {

// `path` itself when it fits; otherwise the same file named through a descriptor of its folder that
// this process keeps open (/proc/self/fd/N/name), which binds, connects, stats and unlinks alike.
// False only when even that does not fit or the folder cannot be opened.
bool unixSocketAddress(const std::string& path, sockaddr_un& address);

}  // namespace nimbrel::platform
