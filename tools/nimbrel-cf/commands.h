#pragma once
// The commands of nimbrel-cf; each answers the process exit code.

#include <string>
#include <vector>

namespace nimbrel::tools::cf {

// JSON array with what Explorer would know of each item; 1 when one of them does not exist.
int infoCommand(const std::vector<std::string>& paths);
// Acts as an application: opens the file and, with `read`, reads it whole (to `outPath` if given),
// showing the provider's progress unless `quiet`.
int openCommand(const std::string& path, bool read, const std::string& outPath, bool quiet);
// JSON array of the sync-root registrations and whether a provider is connected to each.
int rootsCommand();

}  // namespace nimbrel::tools::cf
