#pragma once
// Platform-internal: where a named local channel lives.

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace nimbrel::platform {

// The socket address of `channelName` in the current runtime folder; false when even the short form
// of its path is too long for a socket address, so that nothing can ever listen under that name.
bool localChannelAddress(const std::wstring& channelName, sockaddr_un& address);

}  // namespace nimbrel::platform
