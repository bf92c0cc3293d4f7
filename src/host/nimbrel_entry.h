#pragma once
// The single export of the Nimbrel library. The host executable calls it once on its main thread;
// it runs the whole server and returns only when start-up is refused.

#define NIMBREL_EXPORT __attribute__((visibility("default")))

// mode 0: the mounted cloud space (ZedoziZevoro); mode 1: the sync disk (RoziDavidoVodido).
// Returns -1 for any other mode and 0 when a server of the same mode already runs.
extern "C" NIMBREL_EXPORT int NimbrelEntry(int mode, int argc, char** argv);
