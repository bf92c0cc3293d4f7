// nimbrel-cfd: the filter service. It serves the runtime folder and platform home of its
// environment (NIMBREL_RUNTIME_DIR, NIMBREL_PLATFORM_HOME) until SIGTERM, a "stop" command or the
// end of the process NIMBREL_CFD_OWNER names.
// The stand-in starts it on demand; starting it by hand while one runs does nothing.

#include "filter_service.h"

int main() {
    nimbrel::platform::cf::FilterService service;
    return service.run();
}
