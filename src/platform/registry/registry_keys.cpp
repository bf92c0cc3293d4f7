// Opening, creating, closing and deleting keys.
#include "registry_key.h"
#include "registry_notifier.h"

using namespace nimbrel::platform;
using namespace nimbrel::platform::registry;

namespace {

// Resolves `hKey` and `lpSubKey` into the target key's levels and consults the fault rules for it.
LONG prepare(const char* function, HKEY hKey, LPCWSTR lpSubKey, REGSAM view, KeyRef& base,
             std::vector<std::wstring>& levels) {
    LONG status = resolveKey(hKey, base);
    if (status == ERROR_SUCCESS) status = targetLevels(base, lpSubKey, view, levels);
    std::wstring path = status == ERROR_SUCCESS ? joinKeyPath(base.root, levels) : std::wstring();
    if (auto fault = injectedFault(function, path)) return *fault;
    return status;
}

// Keys named relative to an open handle need that handle's key to still exist.
LONG checkBase(const KeyRef& base) { return base.object ? base.store->checkKey(base.id) : ERROR_SUCCESS; }

}  // namespace

extern "C" LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                                   const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    KeyRef base;
    std::vector<std::wstring> levels;
    REGSAM view = viewOf(samDesired);
    if (LONG status = prepare("RegCreateKeyExW", hKey, lpSubKey, view, base, levels); status != ERROR_SUCCESS) {
        return status;
    }
    if (!lpSubKey || !phkResult) return ERROR_INVALID_PARAMETER;
    if (LONG status = checkBase(base); status != ERROR_SUCCESS) return status;
    long long id = 0;
    bool created = false;
    if (LONG status = base.store->createKey(base.root, levels, id, created); status != ERROR_SUCCESS) return status;
    if (created) RegistryNotifier::instance().poke();
    *phkResult = openKeyHandle(base, id, std::move(levels), samDesired, view);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    KeyRef base;
    std::vector<std::wstring> levels;
    REGSAM view = viewOf(samDesired);
    if (LONG status = prepare("RegOpenKeyExW", hKey, lpSubKey, view, base, levels); status != ERROR_SUCCESS) {
        return status;
    }
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    if (LONG status = checkBase(base); status != ERROR_SUCCESS) return status;
    long long id = base.id;
    if (lpSubKey && *lpSubKey) {
        if (LONG status = base.store->findKey(base.root, levels, id); status != ERROR_SUCCESS) return status;
    }
    *phkResult = openKeyHandle(base, id, std::move(levels), samDesired, view);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegCloseKey(HKEY hKey) {
    if (predefinedRoot(hKey)) return ERROR_SUCCESS;
    auto handle = reinterpret_cast<HANDLE>(hKey);
    if (!handleAs<RegistryKey>(handle) || !releaseHandle(handle)) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegFlushKey(HKEY hKey) {
    KeyRef key;
    if (LONG status = resolveKey(hKey, key); status != ERROR_SUCCESS) return status;
    return key.store->checkpoint();
}

extern "C" LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD) {
    KeyRef base;
    std::vector<std::wstring> levels;
    if (LONG status = prepare("RegDeleteKeyExW", hKey, lpSubKey, viewOf(samDesired), base, levels);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    if (LONG status = checkBase(base); status != ERROR_SUCCESS) return status;
    long long id = base.id;
    if (*lpSubKey) {
        if (LONG status = base.store->findKey(base.root, levels, id); status != ERROR_SUCCESS) return status;
    }
    LONG status = base.store->deleteKey(id);
    if (status == ERROR_SUCCESS) RegistryNotifier::instance().poke();
    return status;
}

extern "C" LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    KeyRef base;
    std::vector<std::wstring> levels;
    if (LONG status = prepare("RegDeleteTreeW", hKey, lpSubKey, 0, base, levels); status != ERROR_SUCCESS) {
        return status;
    }
    bool ownKey = !lpSubKey || !*lpSubKey;
    if (ownKey && !base.allows(DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (LONG status = checkBase(base); status != ERROR_SUCCESS) return status;
    long long id = base.id;
    if (!ownKey) {
        if (LONG status = base.store->findKey(base.root, levels, id); status != ERROR_SUCCESS) return status;
    }
    LONG status = base.store->deleteTree(id, ownKey);
    if (status == ERROR_SUCCESS) RegistryNotifier::instance().poke();
    return status;
}
