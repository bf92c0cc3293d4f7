#pragma once
// Loads the suite's IPC module from the tool's own folder, as the server does from its host's.

#include <string>

#include "suite/ipcmodule/ipc_interface.h"

// A new channel that calls `receiver`, or null with `error` set.
IIpcInterface* createIpcChannel(IRequestNotify* receiver, std::string& error);
