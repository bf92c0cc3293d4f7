#include "shell/shell_registry_state.h"

#include <QString>
#include <QVariant>

#include "host/sync_virtual_config.h"
#include "platform/windows.h"
#include "suite/base/utility.h"

ShellRegistryState readShellRegistryState() {
    ShellRegistryState state;
    const QString productKey = QString::fromWCharArray(syncConfig()->registryRoot());
    const QVariant user = Utility::registryGetKeyValue(HKEY_CURRENT_USER, productKey, "currentUser", true);
    if (user.isValid()) state.currentUser = user.toString().toStdWString();
    if (state.currentUser.empty()) return state;

    const QString userKey = productKey + "\\" + QString::fromStdWString(state.currentUser);
    const QVariant syncPath = Utility::registryGetKeyValue(HKEY_CURRENT_USER, userKey, "syncPath", true);
    const QVariant login = Utility::registryGetKeyValue(HKEY_CURRENT_USER, userKey, "bLogin", true);
    const QVariant openSync = Utility::registryGetKeyValue(HKEY_CURRENT_USER, userKey, "bOpenSync", true);
    if (syncPath.isValid()) state.syncPath = syncPath.toString().toStdWString();
    if (login.isValid()) state.bLogin = login.toString().toStdWString();
    state.bOpenSync = openSync.isValid() && openSync.toString().toInt() >= 1;
    return state;
}
