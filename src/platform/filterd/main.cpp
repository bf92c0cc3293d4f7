// nimbrel-cfd: the filter service. It serves the runtime folder and platform home of its
// environment (NIMBREL_RUNTIME_DIR, NIMBREL_PLATFORM_HOME) until SIGTERM, a "stop" command or the
// end of the process NIMBREL_CFD_OWNER names.
// The stand-in starts it on demand; starting it by hand while one runs does nothing.

#include <cstdio>
#include <cstring>

#include "filter_service.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
            std::fputs(
                "usage: nimbrel-cfd\n"
                "The file-system filter service: mounts FUSE over every sync root registered in\n"
                "NIMBREL_PLATFORM_HOME, so that reads of a placeholder hydrate it, until SIGTERM or Ctrl-C.\n"
                "Started on demand when a root is registered; starting it while one runs does nothing.\n",
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
