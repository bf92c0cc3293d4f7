// Sanitizer builds only: Qt's off-screen platform plugin never frees its screen objects when the
// application object goes away, which a second start (which returns at once) would report as a
// leak and turn into a non-zero exit code. Leaks rooted in our own code are still reported.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n"
           "leak:libQt5Gui.so\n"
           "leak:libQt5Core.so\n";
}

// The known Qt leaks above are no news at every exit.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
