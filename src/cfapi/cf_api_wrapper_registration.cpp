// Sync-root registration and unregistration, with the shell-integration registry entries that make
// Explorer show the folder's status and the hydration progress bar.
#include <QVariant>
#include <memory>
#include <vector>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "host/sync_virtual_config.h"
#include "platform/win_token.h"
#include "shell/utilities.h"
#include "suite/base/utility.h"
#include "suite/base/winpath.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

const QString kSyncRootManagerKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager";
const QString kNewStartPanelKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\HideDesktopIcons\\NewStartPanel";
const QString kDesktopNamespaceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\NameSpace";
// The shell's own delegate folder class that shows a file-system folder as a namespace item.
const QString kDelegateFolderClsid = "{0E5AAE11-A475-4c5b-AB00-C66DE400274E}";
constexpr DWORD kShellFolderAttributes = 0xF080004D;

// The texts are kept in the local 8-bit code page, as Explorer shows them.
const char kInfoTipLocal[] =
    "\xB4\xD3\xD5\xE2\xC0\xEF\xBD\xF8\xC8\xEB"
    "Calimbra";  // "enter Calimbra from here"
const char kItemAuthorsLocal[] =
    "\xCB\xAB\xBB\xF7\xBD\xF8\xC8\xEB"
    "Calimbra";  // "double-click to enter Calimbra"

struct RegistryEntry {
    QString key;
    QString valueName;
    DWORD type;
    QVariant data;
};

QString fromLocal8Bit(const char* text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring converted(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, converted.data(), length);
    converted.resize(static_cast<std::size_t>(length - 1));
    return QString::fromStdWString(converted);
}

QString syncRootKeyFor(const QString& syncRootId) { return kSyncRootManagerKey + "\\" + syncRootId; }
QString clsidKeyFor(const QString& clsid) { return "Software\\Classes\\CLSID\\" + clsid; }

// The shell extension DLL that draws the folder's icon sits beside the host executable.
QString iconPath() {
    wchar_t module[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    QString executable = QString::fromWCharArray(module, static_cast<int>(length));
    QString folder = executable.left(executable.lastIndexOf('\\') + 1);
    return folder + (Utility::IsWow64() ? "RoreRoduv64.dll" : "RoreRoduv32.dll") + ",0";
}

std::vector<RegistryEntry> registryKeysToSet(const QString& syncRootKey, const QString& windowsSid, const QString& path,
                                             const QString& clsid, const QString& displayName) {
    return {
        {syncRootKey, "Flags", REG_DWORD, 2u},
        {syncRootKey, "DisplayNameResource", REG_EXPAND_SZ, displayName},
        {syncRootKey, "IconResource", REG_EXPAND_SZ, iconPath()},
        {syncRootKey + "\\UserSyncRoots\\", windowsSid, REG_SZ, path},
        {syncRootKey, "NamespaceCLSID", REG_SZ, clsid},
    };
}

std::vector<RegistryEntry> registryKeysToCLSIDSet(const QString& clsidKey, const QString& path, const QString& clsid,
                                                  const QString& displayName) {
    return {
        {clsidKey, "", REG_SZ, displayName},
        {clsidKey, "InfoTip", REG_SZ, fromLocal8Bit(kInfoTipLocal)},
        {clsidKey, "SortOrderIndex", REG_DWORD, 0x41u},
        {clsidKey, "System.IsPinnedToNamespaceTree", REG_DWORD, 0u},
        {clsidKey, "System.ItemAuthors", REG_SZ, fromLocal8Bit(kItemAuthorsLocal)},
        {clsidKey, "TileInfo", REG_SZ, "prop:System.ItemAuthors"},
        {clsidKey + "\\DefaultIcon\\", "", REG_SZ, iconPath()},
        {clsidKey + "\\InProcServer32\\", "", REG_SZ, "%SystemRoot%\\system32\\shell32.dll"},
        {clsidKey + "\\Instance\\", "CLSID", REG_SZ, kDelegateFolderClsid},
        {clsidKey + "\\Instance\\InitPropertyBag", "Attributes", REG_DWORD, 0x11u},
        {clsidKey + "\\Instance\\InitPropertyBag", "TargetFolderPath", REG_SZ, path},
        {clsidKey + "\\ShellFolder", "Attributes", REG_DWORD, kShellFolderAttributes},
        {clsidKey + "\\ShellFolder", "FolderValueFlags", REG_DWORD, 0x228u},
        {kNewStartPanelKey, clsid, REG_DWORD, 1u},
    };
}

bool setEntry(HKEY root, const RegistryEntry& entry, bool view64) {
    return Utility::registrySetKeyValue(root, entry.key, entry.valueName, entry.type, entry.data, view64);
}

bool isNotFound(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

}  // namespace

QString CfApiWrapper::normalizeRootPath(const QString& path) {
    QString normalized = path;
    normalized.replace('\\', '/');
    if (!normalized.isEmpty() && normalized.endsWith('/')) normalized.chop(1);
    return normalized;
}

QString CfApiWrapper::registeredRoot() {
    std::lock_guard<std::mutex> lock(registeredRootMutex);
    return registeredRootPath;
}

HRESULT CfApiWrapper::registerSyncRoot(const QString& path, const QString& providerName, const QString& providerVersion,
                                       const QString& clsid) {
    {
        std::lock_guard<std::mutex> lock(registeredRootMutex);
        registeredRootPath = normalizeRootPath(path);
        registeredRootFolder = winpath::cleanNativePath(registeredRootPath);
    }
    std::wstring name = wide(providerName);
    std::wstring version = wide(providerVersion);
    CF_SYNC_REGISTRATION registration{};
    registration.StructSize = static_cast<ULONG>(44 + 2 * (providerName.size() + providerVersion.size()));
    registration.ProviderName = name.c_str();
    registration.ProviderVersion = version.c_str();
    registration.SyncRootIdentity = nullptr;
    registration.SyncRootIdentityLength = 0;
    registration.FileIdentity = nullptr;
    registration.FileIdentityLength = 0;
    CoCreateGuid(&registration.ProviderId);

    CF_SYNC_POLICIES policies{};
    policies.StructSize = 24;
    policies.Hydration.Primary = CF_HYDRATION_POLICY_FULL;
    policies.Hydration.Modifier = CF_HYDRATION_POLICY_MODIFIER_NONE;
    policies.Population.Primary = CF_POPULATION_POLICY_ALWAYS_FULL;
    policies.Population.Modifier = CF_POPULATION_POLICY_MODIFIER_NONE;
    policies.InSync = CF_INSYNC_POLICY_PRESERVE_INSYNC_FOR_SYNC_ENGINE;
    policies.HardLink = CF_HARDLINK_POLICY_NONE;

    HRESULT hr = CfRegisterSyncRoot(wide(path).c_str(), &registration, &policies, CF_REGISTER_FLAG_UPDATE);
    // Registry trouble only costs Explorer's status display, never the registration itself.
    if (!registerShellIntegrationKeys(clsid, path)) {
        LOG_WARN << "Failed to create the registry key for path:" << path;
    }
    return hr;
}

bool CfApiWrapper::registerShellIntegrationKeys(const QString& clsid, const QString& path) {
    QString windowsSid = getWindowsSid();
    if (windowsSid.isEmpty()) {
        LOG_WARN << "Failed to set Registry keys for shell integration, as windowsSid is empty. Progress bar will not "
                    "work.";
        return false;
    }
    CSyncVirtualConfig* config = syncConfig();
    const QString syncRootKey = syncRootKeyFor(config->syncRootId());
    const QString displayName = config->displayName();

    for (const auto& entry : registryKeysToSet(syncRootKey, windowsSid, path, clsid, displayName)) {
        if (!setEntry(HKEY_LOCAL_MACHINE, entry, true)) {
            LOG_WARN << "Failed to set HKEY_LOCAL_MACHINE registryKeysToSet Registry keys for shell integration. "
                        "Progress bar will not work.";
            // Explorer must never see a half-written sync-root registration.
            Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, syncRootKey, true);
            return false;
        }
    }
    for (const auto& entry : registryKeysToCLSIDSet(clsidKeyFor(clsid), path, clsid, displayName)) {
        if (!setEntry(HKEY_CURRENT_USER, entry, true) || !setEntry(HKEY_CURRENT_USER, entry, false)) {
            LOG_WARN << "Failed to set HKEY_CURRENT_USER registryKeysToCLSIDSet Registry keys for shell integration. "
                        "Progress bar will not work.";
            Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, syncRootKey, true);
            return false;
        }
    }
    const QString namespaceKey = kDesktopNamespaceKey + "\\" + clsid;
    bool retired32 = retireDesktopNamespaceKey(HKEY_CURRENT_USER, namespaceKey, false);
    bool retired64 = retireDesktopNamespaceKey(HKEY_CURRENT_USER, namespaceKey, true);
    if (!retired32 || !retired64) {
        LOG_WARN << "Failed to fully clean retired CFAPI Desktop Namespace; the entry remains hidden.";
    }
    LOG_INFO << "Successfully set Registry keys for shell integration at:" << syncRootKey
             << ". Progress bar will work.";
    return true;
}

bool CfApiWrapper::retireDesktopNamespaceKey(HKEY root, const QString& key, bool view64) {
    const REGSAM view = view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const std::wstring keyText = wide(key);
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(root, keyText.c_str(), 0,
                                   view | DELETE | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS, &opened);
    if (isNotFound(status)) return true;
    if (status != ERROR_SUCCESS) {
        LOG_WARN << "Failed to open retired Desktop Namespace registry key:" << key << "view64:" << view64
                 << "error:" << static_cast<long>(status);
        return false;
    }
    status = RegDeleteTreeW(opened, nullptr);
    RegCloseKey(opened);
    if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(root, keyText.c_str(), view, 0);

    if (status != ERROR_SUCCESS && !isNotFound(status)) {
        LOG_WARN << "Failed to delete retired Desktop Namespace registry key:" << key << "view64:" << view64
                 << "error:" << static_cast<long>(status);
        return false;
    }
    status = RegOpenKeyExW(root, keyText.c_str(), 0, view | KEY_READ, &opened);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(opened);
        LOG_WARN << "Retired Desktop Namespace registry key still exists:" << key << "view64:" << view64;
        return false;
    }
    if (isNotFound(status)) return true;
    LOG_WARN << "Failed to verify retired Desktop Namespace registry key:" << key << "view64:" << view64
             << "error:" << static_cast<long>(status);
    return false;
}

HRESULT CfApiWrapper::unregisterSyncRoot(const QString& path) {
    Utilities::RemoveFolderFromeSearchIndex(wide(path));
    HRESULT hr = CfUnregisterSyncRoot(wide(path).c_str());
    if (FAILED(hr)) LOG_WARN << "Failed to Unregister SyncRoot errcode:" << windowsErrorText(hr);
    if (!removeShellIntegrationKeys(path)) LOG_WARN << "Failed to delete the registry key for path:" << path;
    unregisterShellExtensions();
    return hr;
}

bool CfApiWrapper::removeShellIntegrationKeys(const QString& path) {
    if (!Utility::registryKeyExists(HKEY_LOCAL_MACHINE, kSyncRootManagerKey, true)) return true;
    QString windowsSid = getWindowsSid();
    if (windowsSid.isEmpty()) {
        LOG_WARN << "Failed to delete Registry key for shell integration on path" << path
                 << ". Because windowsSid is empty.";
        return false;
    }
    const QString syncRootId = syncConfig()->syncRootId();
    QStringList candidates;
    Utility::registryWalkSubKeys(
        HKEY_LOCAL_MACHINE, kSyncRootManagerKey,
        [&](HKEY, const QString& name) {
            if (name.startsWith(syncRootId, Qt::CaseSensitive)) candidates << name;
        },
        true);
    // Deleting while the walk still enumerates would shift the enumeration; collect first.
    bool result = true;
    for (const QString& name : candidates) {
        const QString key = kSyncRootManagerKey + "\\" + name;
        QVariant recorded =
            Utility::registryGetKeyValue(HKEY_LOCAL_MACHINE, key + "\\UserSyncRoots\\", windowsSid, true);
        if (recorded.toString() == path) result = Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, key, true);
    }
    return result;
}

void CfApiWrapper::unregisterShellExtensions() {
    if (getWindowsSid().isEmpty()) {
        LOG_WARN << "Failed to unregister SyncRoot Shell Extensions!";
        return;
    }
    CSyncVirtualConfig* config = syncConfig();
    const QString clsid = config->shellFolderClsid();
    bool hidden32 = Utility::registrySetKeyValue(HKEY_CURRENT_USER, kNewStartPanelKey, clsid, REG_DWORD, 1u, false);
    bool hidden64 = Utility::registrySetKeyValue(HKEY_CURRENT_USER, kNewStartPanelKey, clsid, REG_DWORD, 1u, true);
    bool hiddenOk = hidden32 && hidden64;
    const QString namespaceKey = kDesktopNamespaceKey + "\\" + clsid;
    bool cleaned32 = retireDesktopNamespaceKey(HKEY_CURRENT_USER, namespaceKey, false);
    bool cleaned64 = retireDesktopNamespaceKey(HKEY_CURRENT_USER, namespaceKey, true);
    bool cleanupOk = cleaned32 && cleaned64;
    if (!hiddenOk || !cleanupOk) {
        LOG_WARN << "Failed to fully retire CFAPI Desktop Namespace, hiddenOk:" << hiddenOk
                 << "cleanupOk:" << cleanupOk;
    }
    const QString clsidKey = clsidKeyFor(clsid);
    Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, clsidKey, true);
    Utility::registryDeleteKeyTree(HKEY_CURRENT_USER, clsidKey, false);
    Utility::registryDeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + clsid, true);
    Utility::registryDeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + clsid, false);
    Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, clsidKey, false);
    Utility::registryDeleteKeyTree(HKEY_LOCAL_MACHINE, syncRootKeyFor(config->syncRootId()), true);
    LOG_INFO << "Successfully unregistered SyncRoot Shell Extensions!";
}

QString CfApiWrapper::getWindowsSid() {
    HANDLE token = GetCurrentThreadEffectiveToken();
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        LOG_CRITICAL << "GetTokenInformation for token size has failed with error"
                     << static_cast<unsigned long>(GetLastError());
        return {};
    }
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LOG_CRITICAL << "GetTokenInformation failed with error" << static_cast<unsigned long>(GetLastError());
        return {};
    }
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(user->User.Sid, &text)) return {};
    QString sid = QString::fromWCharArray(text);
    LocalFree(text);
    return sid;
}

QString CfApiWrapper::windowsErrorText(HRESULT hr) {
    wchar_t message[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(hr), 0, message, 512, nullptr);
    QString text = QString::fromWCharArray(message, static_cast<int>(length)).trimmed();
    return QString("WindowsError: %1: %2").arg(QString::number(static_cast<quint32>(hr), 16), text);
}
