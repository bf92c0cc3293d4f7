#pragma once
// The sync-root connections of this process. At most one connection per root exists machine-wide:
// the connected process holds an exclusive lock on the root's lock file in the runtime folder,
// which the kernel releases when the process dies, so a crashed provider never blocks the root.

#include <memory>
#include <string>
#include <vector>

#include "cf_filter_core.h"
#include "cf_filter_port.h"

namespace nimbrel::platform::cf {

struct ConnectedRoot {
    ~ConnectedRoot();
    CF_CONNECTION_KEY key{};
    std::string rootPath;
    int lockFd = -1;
    std::shared_ptr<FilterCore> core;
    std::unique_ptr<FilterPort> port;
};

std::shared_ptr<ConnectedRoot> findConnection(CF_CONNECTION_KEY key);
// The filter core of a root connected in this process, for other request sources (mounts, tests).
std::shared_ptr<FilterCore> filterCoreFor(const std::string& rootPath);
// The root connected in this process that is `path` or one of its ancestors, empty for none.
std::string connectedRootOf(const std::string& path);
// The roots connected in this process, in the order connectedRootOf looks at them.
std::vector<std::string> connectedRoots();
// Whether any process holds the connection of the root.
bool isRootConnected(const std::string& rootPath);

}  // namespace nimbrel::platform::cf
