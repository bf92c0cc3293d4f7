#pragma once
// Connections to a Unix socket kept open between exchanges: which socket file one was made to, and
// whether it may carry another exchange.

#include <sys/types.h>

namespace nimbrel::platform {

struct SocketFileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    pid_t owner = 0;  // the process that connects; 0 when the file was not there
};

// Notes the socket file at `path` for a connection this process is about to make. Taken before the
// connect: a listener that replaces the file in between makes the connection look stale later,
// never a stale connection look current. False (and an empty identity) when there is no file.
bool identifySocketFile(const char* path, SocketFileIdentity& identity);

// Whether the idle connection `fd` can carry another exchange: made by this process (a child forked
// since would talk over its parent), neither closed by the peer nor holding anything unasked, and
// `path` still the socket file it was made to (a newer listener takes a name's peers over).
bool idleConnectionUsable(int fd, const SocketFileIdentity& madeTo, const char* path);

}  // namespace nimbrel::platform
