#pragma once

#include "client_options.h"
#include "suite/ipcmodule/ipc_interface.h"

class ClientReceiver;
class CSyncVirtualConfig;

// `serve --cloud DIR --mount PATH`: once the server answers, mounts PATH, pushes the cloud tree and
// then its changes until SIGTERM or SIGINT; the sync-disk client records its login meanwhile.
// Ends the process with exit code 0 when it stops.
[[noreturn]] void runCloudServe(IIpcInterface* channel, const ClientOptions& options, CSyncVirtualConfig& config,
                                ClientReceiver& receiver);
