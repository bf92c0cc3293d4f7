#pragma once
// The filter service of one runtime folder and platform home: holds the service lock, keeps a
// RootMount for every registered sync root, and answers the control socket (see cf_filter_service.h)
// until it is told to stop, gets SIGTERM/SIGINT or its owner process (NIMBREL_CFD_OWNER, set by
// test runs) ends, when it unmounts everything.

#include <map>
#include <memory>
#include <string>

#include "root_mount.h"

namespace nimbrel::platform::cf {

class FilterService {
public:
    // 0 after a clean stop, and when another service already runs here; 1 when it cannot start.
    int run();

private:
    bool sync();
    void handle(int client);

    std::map<std::string, std::unique_ptr<RootMount>> mounts_;
    bool stopping_ = false;
};

}  // namespace nimbrel::platform::cf
