#include "desktop_app.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

bool startDesktopApp() {
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child != 0) return child > 0;
    // Only calls that are safe after fork in a process with threads.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    ::prctl(PR_SET_NAME, "Orvane.exe", 0, 0, 0);
    for (;;) ::pause();
}
