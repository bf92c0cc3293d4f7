#include "shell/shell_folder_utils.h"

#include <QVariant>

#include "host/sync_virtual_config.h"
#include "platform/shlobj.h"
#include "platform/windows.h"
#include "suite/base/utility.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

const QString kDriverFolderKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace\\"
    "{836776EF-571B-460B-A634-28DDC11FA9B4}";

QString productKey() { return QString::fromWCharArray(syncConfig()->registryRoot()); }

bool valueExists(const QString& key, const QString& name) {
    return Utility::registryGetKeyValue(HKEY_CURRENT_USER, key, name, true).isValid();
}

QString readValue(const QString& key, const QString& name) {
    return Utility::registryGetKeyValue(HKEY_CURRENT_USER, key, name, true).toString();
}

}  // namespace

bool ShellFolderUtils::checkAndSwitchShellFoler() {
    QString syncPath;
    const bool ready = checkReadyLoginAndOpenSync(syncPath);
    LOG_INFO << "[checkAndSwitchShellFoler],checkReadyLoginAndOpenSync result = " << ready;
    setMirrorDesktopFolderVisible(false);
    setMirrorDriverFolderVisible(false);
    refreshShell();
    return true;
}

bool ShellFolderUtils::checkReadyLoginAndOpenSync(QString& syncPath) {
    if (syncConfig()->isMountMode()) return false;
    const QString key = productKey();
    if (!Utility::registryKeyExists(HKEY_CURRENT_USER, key, true) || !valueExists(key, "currentUser")) {
        LOG_INFO << "HKEY_CURRENT_USER " << key << " OR \\currentUser not exist";
        return false;
    }
    const QString currentUser = readValue(key, "currentUser");
    if (currentUser.size() < 11) {
        LOG_INFO << "HKEY_CURRENT_USER" << key << "\\currentUser value invalid";
        return false;
    }
    const QString userKey = key + "\\" + currentUser;
    if (!Utility::registryKeyExists(HKEY_CURRENT_USER, userKey, true) || !valueExists(userKey, "bLogin") ||
        !valueExists(userKey, "bOpenSync")) {
        LOG_INFO << "CheckRegistryValueExist subkey: " << userKey << ", bLogin , bOpenSync not exist ";
        return false;
    }
    const QString login = readValue(userKey, "bLogin");
    const QString openSync = readValue(userKey, "bOpenSync");
    LOG_INFO << "CheckRegistryValueExist subkey: " << userKey << ", bLogin value:" << login
             << ",bOpenSync value =" << openSync;
    if (login.toInt() != 1 || openSync.toInt() < 1 || !valueExists(userKey, "syncPath")) return false;

    QString path = readValue(userKey, "syncPath");
    LOG_INFO << "syncPath = " << path;
    if (path.endsWith('\\')) path.chop(1);
    path.replace('/', '\\');
    if (!CXFileInfo(path).isDir()) {
        LOG_INFO << "syncPath = " << path << "value is invalid dir path ";
        return false;
    }
    if (!hasCloudZiduZuduMarker(path)) {
        LOG_INFO << "syncPath = " << path << " missing *.cloudZiduZudu flag, treat as not opened";
        return false;
    }
    if (!path.endsWith('\\')) path += '\\';
    syncPath = path;
    return true;
}

bool ShellFolderUtils::hasCloudZiduZuduMarker(const QString& folder) {
    QString pattern = folder;
    pattern.replace('/', '\\');
    while (pattern.endsWith('\\')) pattern.chop(1);
    if (pattern.isEmpty()) return false;
    pattern += "\\*.cloudZiduZudu";
    const std::wstring widePattern = pattern.toStdWString();
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(widePattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool marked = false;
    do {
        marked = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    } while (!marked && FindNextFileW(search, &found));
    FindClose(search);
    return marked;
}

bool ShellFolderUtils::setMirrorDesktopFolderVisible(bool visible) {
    LOG_INFO << "[setMirrorDesktopFolderVisible], isVisible = " << visible;
    const QString key = "Software\\Classes\\CLSID\\" + syncConfig()->shellFolderClsid();
    if (!Utility::registryKeyExists(HKEY_CURRENT_USER, key, true)) {
        LOG_INFO << "[setMirrorDesktopFolderVisible], regKey = " << key << ", not exist.";
        return false;
    }
    if (!Utility::registrySetKeyValue(HKEY_CURRENT_USER, key, "System.IsPinnedToNamespaceTree", REG_DWORD,
                                      visible ? 1u : 0u, Utility::IsWow64() != FALSE)) {
        LOG_WARN << "Failed to set HKEY_CURRENT_USER registryKeysToCLSIDSet Registry keys for mirror shell "
                    "integration. Progress bar will not work.";
        return false;
    }
    return true;
}

bool ShellFolderUtils::setMirrorDriverFolderVisible(bool visible) {
    LOG_INFO << "[setMirrorDriverFolderVisible], isVisible = " << visible;
    if (!Utility::registryKeyExists(HKEY_CURRENT_USER, kDriverFolderKey, true)) {
        LOG_INFO << "[setMirrorDriverFolderVisible], registryKeyExists regKey = " << kDriverFolderKey << ", not exist.";
        return false;
    }
    // Showing the entry is the client's business; Nimbrel only ever takes it away.
    if (visible) return true;
    if (!Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, kDriverFolderKey, Utility::IsWow64() != FALSE)) {
        LOG_INFO << "[setMirrorDriverFolderVisible], registryDeleteKeyTree regKey = " << kDriverFolderKey << ", error.";
        return false;
    }
    return true;
}

void ShellFolderUtils::refreshShell() {
    PIDLIST_ABSOLUTE drives = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives))) ILFree(drives);
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Refresh"), SMTO_ABORTIFHUNG,
                        1000, nullptr);
}
