#pragma once
// What the mirror shows of the user's own choices. The main client pushes every item again at each
// start; an item the user asked to keep on this device must then be pushed as kept, or the push
// would take that choice back. The pin on the placeholder is where the choice lives.

#include <QString>

// True when the item at `localPath` in the mounted folder is pinned (kept on this device).
bool isKeptOnDevice(const QString& localPath);
