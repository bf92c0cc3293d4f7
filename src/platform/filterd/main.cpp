// nimbrel-cfd: the filter service. It serves the runtime folder and platform home of its
// environment (NIMBREL_RUNTIME_DIR, NIMBREL_PLATFORM_HOME) until SIGTERM, a "stop" command (what
// `nimbrel-cfd stop` sends) or the end of the process NIMBREL_CFD_OWNER names.
// The stand-in starts it on demand; starting it by hand while one runs does nothing.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cf_filter_service.h"
#include "filter_service.h"

namespace {

namespace cf = nimbrel::platform::cf;

// Asks the running service to unmount everything and end, and waits until it has: a caller that
// goes on to remove a covered folder must not find it still mounted.
int stopRunningService() {
    const pid_t pid = cf::filterServicePid();
    if (pid == 0) {
        std::puts("nimbrel-cfd: no filter service runs for this runtime folder");
        return 0;
    }
    if (!cf::filterServiceCommand("stop")) {
        std::fprintf(stderr, "nimbrel-cfd: the service (process %d) did not take the stop command\n", pid);
        return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (cf::filterServicePid() == pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "nimbrel-cfd: the service (process %d) is still running after 30 s\n", pid);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("nimbrel-cfd: stopped the filter service (process %d) and its mounts\n", pid);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "stop") == 0) return stopRunningService();
    if (argc > 1) {
        if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
            std::fputs(
                "usage: nimbrel-cfd [stop]\n"
                "The file-system filter service: mounts FUSE over every sync root registered in\n"
                "NIMBREL_PLATFORM_HOME, so that reads of a placeholder hydrate it, until SIGTERM or Ctrl-C.\n"
                "Started on demand when a root is registered; starting it while one runs does nothing.\n"
                "  stop    unmounts every root of the running service and ends it\n",
                stdout);
            return 0;
        }
        std::fprintf(stderr, "nimbrel-cfd: unknown %s %s (see nimbrel-cfd --help)\n",
                     argv[1][0] == '-' ? "option" : "argument", argv[1]);
        return 2;
    }
    nimbrel::platform::cf::FilterService service;
    return service.run();
}
