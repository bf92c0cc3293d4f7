#pragma once

#include <string>

#include "client_options.h"
#include "suite/ipcmodule/ipc_interface.h"

class ClientReceiver;
class CSyncVirtualConfig;

// Makes the sync folder a first run needs, private to the user; an existing one is left as it is.
// False, with `error` set, when it cannot be made.
bool prepareSyncFolder(const std::string& path, std::string& error);

// `serve --cloud DIR --mount PATH`: once the server answers, mounts PATH, pushes the cloud tree and
// then its changes until SIGTERM or SIGINT; the sync-disk client records its login meanwhile.
// Ends the process with exit code 0 when it stops.
[[noreturn]] void runCloudServe(IIpcInterface* channel, const ClientOptions& options, CSyncVirtualConfig& config,
                                ClientReceiver& receiver);
