// nimbrel-mainclient: the reference main client of one mode, seen from Nimbrel's side of the
// IPC channel. It runs under the mode's client executable name, so that the server's process
// check finds it.
#include <sys/prctl.h>

#include <cstring>
#include <iostream>

#include "client_options.h"
#include "host/sync_virtual_config.h"
#include "send_command.h"
#include "serve_command.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << clientUsage();
            return 0;
        }
    }
    ClientOptions options;
    std::string error;
    if (!parseClientOptions(argc, argv, options, error)) {
        std::cerr << "nimbrel-mainclient: " << error << " (see nimbrel-mainclient --help)\n";
        return 2;
    }
    CSyncVirtualConfig* config = createSyncConfig(options.mode);
    const std::string processName = config->clientAppName(false).toStdString();
    prctl(PR_SET_NAME, processName.c_str(), 0, 0, 0);

    if (options.action == "send") return runSend(options, *config);
    return runServe(options, *config);
}
