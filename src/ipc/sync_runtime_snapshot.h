#pragma once
// A copy of the main client's runtime state, for readers outside the IPC threads (the
// context-menu server decides from it whether to offer its entries).

#include <cstdint>
#include <string>
#include <vector>

struct SyncRuntimeSnapshot {
    bool serviceOnline = false;
    bool loggedIn = false;
    bool contextMenuAllowed = false;
    std::int32_t status = -1;
    std::int32_t reason = -1;
    std::vector<std::wstring> mountedPaths;  // the roots this process has brought up
};
