#pragma once
// The stand-in's side of the filter service (nimbrel-cfd), the counterpart of the kernel filter
// that mounts FUSE over every registered sync root. One runs per runtime folder and platform home;
// the stand-in starts it when a root is registered or connected and tells it which roots to cover.
// Its control socket takes one line per connection and answers "ok" or "no":
//   sync             mount every registered root not yet mounted, unmount roots no longer registered
//   unmount ROOT     unmount one root (before it is unregistered)
//   covered ROOT     the descriptor of the folder under the mount, passed with the answer
//   changed PATH     the data of PATH changed below the mount: drop what the kernel caches of it
//   stop             unmount everything and end
// NIMBREL_CFD names the executable ("off": never start it); by default it sits beside this library.

#include <sys/types.h>

#include <string>

namespace nimbrel::platform::cf {

std::string filterServiceSocketPath();
std::string filterServiceLockPath();
// The process id the running service wrote into its lock file; 0 when none runs.
pid_t filterServicePid();

// Starts the service unless it runs or is turned off; true when it answers.
bool ensureFilterService();
// Sends one command line; true when the service answered "ok". *descriptor receives a passed descriptor.
bool filterServiceCommand(const std::string& line, int* descriptor = nullptr);

}  // namespace nimbrel::platform::cf
