#include "local_channel_address.h"

#include <cstring>

#include "platform/platform_paths.h"

namespace nimbrel::platform {

bool localChannelAddress(const std::wstring& channelName, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::string path = runtimeDir() + "/ipc-" + objectFileName(channelName);
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace nimbrel::platform
