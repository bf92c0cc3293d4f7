#pragma once
// Whether a local item is really complete (pinned always-local, hydrated, in sync) before a
// duplicate pushFileAdd is skipped: the guard only knows what was pushed, and the user may have
// freed the file up or changed it since.

#include <QString>
#include <QtGlobal>
#include <string>

class CXFileInfo;

struct LocalStateCheck {
    bool incomplete = false;
    std::string reason;
    // -1 while unknown.
    int pinState = -1;
    int inSyncState = -1;
    int hydrated = -1;
};

// `local` is what the caller already read of the item at `path`; it is not read again.
LocalStateCheck checkLocalStateIncomplete(const QString& path, const CXFileInfo& local, qint64 size, bool isVirtual);
