#include "sync_disk_login.h"

#include <QFile>

#include "host/sync_virtual_config.h"
#include "platform/windows.h"
#include "suite/base/utility.h"

SyncDiskLogin::SyncDiskLogin(CSyncVirtualConfig& config, QString syncPath)
    : productKey_(QString::fromWCharArray(config.registryRoot())), syncPath_(std::move(syncPath)) {}

QString SyncDiskLogin::userKey() const { return productKey_ + "\\" + kUser; }

bool SyncDiskLogin::open() {
    const QString windowsPath = QString(syncPath_).replace('/', '\\');
    QFile marker(syncPath_ + "/" + kMarkerName);
    return Utility::registrySetKeyValue(HKEY_CURRENT_USER, productKey_, "currentUser", REG_SZ, kUser, true) &&
           Utility::registrySetKeyValue(HKEY_CURRENT_USER, userKey(), "syncPath", REG_SZ, windowsPath, true) &&
           Utility::registrySetKeyValue(HKEY_CURRENT_USER, userKey(), "bLogin", REG_SZ, "1", true) &&
           Utility::registrySetKeyValue(HKEY_CURRENT_USER, userKey(), "bOpenSync", REG_SZ, "1", true) &&
           marker.open(QIODevice::WriteOnly);
}

void SyncDiskLogin::close() {
    Utility::registrySetKeyValue(HKEY_CURRENT_USER, userKey(), "bLogin", REG_SZ, "0", true);
    Utility::registrySetKeyValue(HKEY_CURRENT_USER, userKey(), "bOpenSync", REG_SZ, "0", true);
}
