#include "platform/socket_address.h"

#include <fcntl.h>

#include <cstring>
#include <map>
#include <mutex>

namespace nimbrel::platform {

namespace {

// A descriptor of `folder`, opened once and kept until the process ends: addresses made through it
// stay valid for as long as anyone may use them. -1 when the folder cannot be opened.
int keptFolderDescriptor(const std::string& folder) {
    static std::mutex mutex;
    static auto* kept = new std::map<std::string, int>;  // lives until the process ends
    std::lock_guard lock(mutex);
    auto found = kept->find(folder);
    if (found != kept->end()) return found->second;
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) kept->emplace(folder, fd);
    return fd;
}

bool fill(const std::string& path, sockaddr_un& address) {
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

bool unixSocketAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (fill(path, address)) return true;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    const int folder = keptFolderDescriptor(path.substr(0, slash));
    return folder >= 0 && fill("/proc/self/fd/" + std::to_string(folder) + path.substr(slash), address);
}

}  // namespace nimbrel::platform
