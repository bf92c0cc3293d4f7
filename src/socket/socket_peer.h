#pragma once
// The context-menu server listens on the loopback address, which every local user can reach; only
// processes of the user this server runs for may use it.

#include "socket/tcp_socket.h"

// Whether the process at the far end of `client` (a loopback connection to this server) runs as
// the same user as this process. False when that process cannot be found or inspected.
bool peerIsSameUser(const TcpSocket& client);
