// Setting, reading and deleting values.
#include <cstring>

#include "registry_data.h"
#include "registry_key.h"
#include "registry_notifier.h"

using namespace nimbrel::platform;
using namespace nimbrel::platform::registry;

namespace {

LONG prepare(const char* function, HKEY hKey, KeyRef& key) {
    LONG status = resolveKey(hKey, key);
    if (auto fault = injectedFault(function, status == ERROR_SUCCESS ? key.path() : std::wstring())) return *fault;
    return status;
}

std::wstring valueName(LPCWSTR name) { return name ? name : L""; }

// Hands `data` out through the usual (buffer, size) pair: a null buffer asks for the size only.
LONG copyOut(const std::string& data, LPBYTE buffer, LPDWORD size) {
    auto needed = static_cast<DWORD>(data.size());
    if (!size) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (buffer) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(buffer, data.data(), data.size());
    }
    *size = needed;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                  DWORD cbData) {
    KeyRef key;
    if (LONG status = prepare("RegSetValueExW", hKey, key); status != ERROR_SUCCESS) return status;
    if (!key.allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!lpData && cbData > 0) return ERROR_NOACCESS;
    LONG status = key.store->setValue(key.id, valueName(lpValueName), dwType, toStoredData(dwType, lpData, cbData));
    if (status == ERROR_SUCCESS) RegistryNotifier::instance().poke();
    return status;
}

extern "C" LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                    LPDWORD lpcbData) {
    KeyRef key;
    if (LONG status = prepare("RegQueryValueExW", hKey, key); status != ERROR_SUCCESS) return status;
    if (!key.allows(KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    ValueRecord value;
    if (LONG status = key.store->queryValue(key.id, valueName(lpValueName), value); status != ERROR_SUCCESS) {
        return status;
    }
    if (lpType) *lpType = value.type;
    return copyOut(toCallerData(value.type, value.bytes), lpData, lpcbData);
}

extern "C" LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    KeyRef key;
    if (LONG status = prepare("RegDeleteValueW", hKey, key); status != ERROR_SUCCESS) return status;
    if (!key.allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    LONG status = key.store->deleteValue(key.id, valueName(lpValueName));
    if (status == ERROR_SUCCESS) RegistryNotifier::instance().poke();
    return status;
}
