// The sync disk server.
#include "host/nimbrel_entry.h"

int main(int argc, char** argv) { return NimbrelEntry(1, argc, argv); }
