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

DWORD typeFlag(DWORD type) {
    switch (type) {
        case REG_NONE:
            return RRF_RT_REG_NONE;
        case REG_SZ:
            return RRF_RT_REG_SZ;
        case REG_EXPAND_SZ:
            return RRF_RT_REG_EXPAND_SZ;
        case REG_BINARY:
            return RRF_RT_REG_BINARY;
        case REG_DWORD:
            return RRF_RT_REG_DWORD;
        case REG_MULTI_SZ:
            return RRF_RT_REG_MULTI_SZ;
        case REG_QWORD:
            return RRF_RT_REG_QWORD;
        default:
            return 0;
    }
}

// RegGetValueW always hands out terminated strings, even when the stored data lacks the NUL.
std::wstring terminated(std::wstring text, DWORD type) {
    std::size_t needed = type == REG_MULTI_SZ ? 2 : 1;
    std::size_t present = 0;
    while (present < needed && present < text.size() && text[text.size() - 1 - present] == L'\0') ++present;
    text.append(needed - present, L'\0');
    return text;
}

LONG getValue(HKEY hkey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData, LPDWORD pcbData) {
    // Expanded strings are always handed out expanded, so they can never be asked for as they are stored.
    if ((dwFlags & RRF_RT_ANY) == 0 || (dwFlags & RRF_RT_REG_EXPAND_SZ)) return ERROR_INVALID_PARAMETER;
    if (pvData && !pcbData) return ERROR_INVALID_PARAMETER;
    KeyRef key;
    if (LONG status = resolveKey(hkey, key); status != ERROR_SUCCESS) return status;
    if (!key.allows(KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    ValueRecord value;
    if (LONG status = key.store->queryValue(key.id, valueName(lpValue), value); status != ERROR_SUCCESS) {
        return status;
    }
    DWORD type = value.type;
    auto data = toCallerData(type, value.bytes);
    if (isStringType(type)) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        if (type == REG_EXPAND_SZ) {
            text = expandEnvironment(text.substr(0, text.find(L'\0')));
            type = REG_SZ;
        }
        text = terminated(std::move(text), type);
        data.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    }
    if ((typeFlag(type) & dwFlags) == 0) return ERROR_UNSUPPORTED_TYPE;
    if (pdwType) *pdwType = type;
    return copyOut(data, static_cast<LPBYTE>(pvData), pcbData);
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

extern "C" LSTATUS RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType,
                                PVOID pvData, LPDWORD pcbData) {
    if (!lpSubKey || !*lpSubKey) return getValue(hkey, lpValue, dwFlags, pdwType, pvData, pcbData);
    HKEY subKey = nullptr;
    LONG status = RegOpenKeyExW(hkey, lpSubKey, 0, KEY_QUERY_VALUE, &subKey);
    if (status == ERROR_SUCCESS) {
        status = getValue(subKey, lpValue, dwFlags, pdwType, pvData, pcbData);
        RegCloseKey(subKey);
    }
    return status;
}

extern "C" LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    KeyRef key;
    if (LONG status = prepare("RegDeleteValueW", hKey, key); status != ERROR_SUCCESS) return status;
    if (!key.allows(KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    LONG status = key.store->deleteValue(key.id, valueName(lpValueName));
    if (status == ERROR_SUCCESS) RegistryNotifier::instance().poke();
    return status;
}
