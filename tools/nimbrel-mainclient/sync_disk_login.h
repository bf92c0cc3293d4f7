#pragma once
// What the sync-disk client records for a logged-in user with an open sync disk: the current
// user under the product key, the user's login, sync-disk and folder values, and the marker file
// in the folder. Cleared again (logged out, sync disk closed) when the client stops; the folder
// stays recorded, as the real client leaves it.

#include <QString>

class CSyncVirtualConfig;

class SyncDiskLogin {
public:
    static constexpr const char* kUser = "13800138000";
    static constexpr const char* kMarkerName = "nimbrel.cloudZiduZudu";

    SyncDiskLogin(CSyncVirtualConfig& config, QString syncPath);

    // False when a value or the marker could not be written.
    bool open();
    void close();

private:
    QString userKey() const;

    QString productKey_;
    QString syncPath_;
};
