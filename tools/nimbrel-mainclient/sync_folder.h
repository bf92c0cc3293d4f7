#pragma once
// The sync folder, as the main client that owns it sees it.

#include <string>

// Makes the sync folder a first run needs, private to the user; an existing one is left as it is.
// False, with `error` set, when it cannot be made.
bool prepareSyncFolder(const std::string& path, std::string& error);

// Whether a server has the sync folder connected as its sync root, as the system tells any program of
// the user.
bool folderServed(const std::string& path);
