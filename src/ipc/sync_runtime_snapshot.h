#pragma once
// A copy of the main client's runtime state, for readers outside the IPC threads (the
// context-menu server decides from it whether to offer its entries).

#include <cstdint>

struct SyncRuntimeSnapshot {
    bool serviceOnline = false;
    bool loggedIn = false;
    bool contextMenuAllowed = false;
    std::int32_t status = -1;
    std::int32_t reason = -1;
};
