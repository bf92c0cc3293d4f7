#pragma once

#include "client_options.h"

class CSyncVirtualConfig;

// Sends one request to the server of the mode and prints its reply on one line. Answers the
// process exit code: 0 when a reply came, 1 when none did.
int runSend(const ClientOptions& options, CSyncVirtualConfig& config);
