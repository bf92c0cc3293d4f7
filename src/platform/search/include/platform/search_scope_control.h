#pragma once
// Test switch of the search-scope stand-in: stops and restarts the Windows Search service of the
// current NIMBREL_PLATFORM_HOME. The state is kept on disk, so it holds for every process of a run.

namespace nimbrel::platform::search {

void setServiceStopped(bool stopped);
bool serviceStopped();

}  // namespace nimbrel::platform::search
