// The module's single export.
#include "suite/ipcmodule/ipc_channel.h"

extern "C" __attribute__((visibility("default"))) int CreateIpcInterface(IIpcInterface** channel,
                                                                         IRequestNotify* receiver) {
    if (!channel || !receiver) return -1;
    // Channels live as long as the process: their threads keep serving until it ends.
    *channel = new ipcmodule::IpcChannel(receiver);
    return 0;
}
