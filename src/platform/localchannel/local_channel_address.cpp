#include "local_channel_address.h"

#include "platform/platform_paths.h"
#include "platform/socket_address.h"

namespace nimbrel::platform {

bool localChannelAddress(const std::wstring& channelName, sockaddr_un& address) {
    return unixSocketAddress(runtimeDir() + "/ipc-" + objectFileName(channelName), address);
}

}  // namespace nimbrel::platform
