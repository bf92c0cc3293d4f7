#pragma once
// The in-memory record of one pushed item that the placeholder operations work from. The projection
// fills the path, the type and the three times (seconds since 1970-01-01 UTC); the other texts are
// carried along unchanged, for example into hard-link repair tasks.

#include <QtGlobal>
#include <string>

struct PlaceholderItemInfo {
    static constexpr int kFolderType = 2;

    std::wstring path;  // full local path
    int type = 0;       // 2 = folder, anything else a file
    qint64 creationTime = 0;
    qint64 modificationTime = 0;
    qint64 accessTime = 0;
    std::wstring parentPath;
    std::wstring name;
    std::wstring id;
    std::wstring extension;

    bool isFolder() const { return type == kFolderType; }

    // Fills times the client left unset (0 or less, or 4294967295000) from the local item, or with
    // the current time when there is none, and keeps creation <= modification <= access.
    void normalizeTimes();
};
