#pragma once

#include "client_options.h"

class CSyncVirtualConfig;

// Runs the client side of the channel until the process is killed: answers the server's
// liveness and notice requests and logs every request to standard output.
int runServe(const ClientOptions& options, CSyncVirtualConfig& config);
