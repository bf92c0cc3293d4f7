#pragma once
// The main client's registry values that decide the navigation-pane folder, as the registry watch
// caches them: the logged-in account and, under it, the sync path and the login and sync flags.

#include <string>

struct ShellRegistryState {
    std::wstring currentUser;
    std::wstring syncPath;
    std::wstring bLogin;     // as stored
    bool bOpenSync = false;  // the stored number is 1 or more

    bool operator==(const ShellRegistryState& other) const {
        return currentUser == other.currentUser && syncPath == other.syncPath && bLogin == other.bLogin &&
               bOpenSync == other.bOpenSync;
    }
    bool operator!=(const ShellRegistryState& other) const { return !(*this == other); }
};

// Absent values stay empty (false); a product key that vanishes mid-read leaves the rest empty.
ShellRegistryState readShellRegistryState();
