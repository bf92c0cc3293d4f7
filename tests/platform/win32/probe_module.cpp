// A library for LoadLibraryW / GetProcAddress tests.
extern "C" __attribute__((visibility("default"))) int ProbeAnswer() { return 42; }
