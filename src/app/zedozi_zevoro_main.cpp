// The mounted cloud space server.
#include "host/nimbrel_entry.h"

int main(int argc, char** argv) { return NimbrelEntry(0, argc, argv); }
