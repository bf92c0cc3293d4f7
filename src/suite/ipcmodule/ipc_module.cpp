// The module's single export.
#include <mutex>
#include <vector>

#include "suite/ipcmodule/ipc_channel.h"

namespace {

// Channels live as long as the process: their threads keep serving until it ends, so the module
// keeps every channel it handed out.
std::vector<ipcmodule::IpcChannel*>& channels() {
    static auto* list = new std::vector<ipcmodule::IpcChannel*>;
    return *list;
}

std::mutex channelsMutex;

}  // namespace

extern "C" __attribute__((visibility("default"))) int CreateIpcInterface(IIpcInterface** channel,
                                                                         IRequestNotify* receiver) {
    if (!channel || !receiver) return -1;
    auto* created = new ipcmodule::IpcChannel(receiver);
    {
        std::lock_guard<std::mutex> lock(channelsMutex);
        channels().push_back(created);
    }
    *channel = created;
    return 0;
}
