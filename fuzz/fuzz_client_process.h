#pragma once
// The server ends itself once its main client's process is gone. A target whose inputs reach the
// server's own liveness watch plays that client: the process runs under a client name of its own.

// Sets up fresh platform folders, starts the process again with them in its environment (the
// process list only counts processes started with this run's runtime folder) and installs a
// configuration whose main client is this process. Call first in LLVMFuzzerInitialize.
void becomeOwnMainClient(char** argv);
