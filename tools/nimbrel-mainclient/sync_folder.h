#pragma once
// The sync folder, as the main client that owns it sees it.

#include <string>

// Makes the sync folder a first run needs, private to the user; an existing one is left as it is.
// False, with `error` set, when it cannot be made.
bool prepareSyncFolder(const std::string& path, std::string& error);

// Whether the sync folder is still a registered sync root that no server serves: what a server that
// ended leaves behind (registration outlives it), unlike an unmount, which unregisters the folder.
bool folderAwaitsItsServer(const std::string& path);
