// Enumerating sub-keys and values, and key information.
#include <cstring>

#include "registry_data.h"
#include "registry_key.h"

using namespace nimbrel::platform;
using namespace nimbrel::platform::registry;

namespace {

// Copies a name with its NUL into a buffer of *capacity characters; *capacity becomes the length.
LONG copyName(const std::wstring& name, LPWSTR buffer, LPDWORD capacity) {
    if (*capacity < name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    *capacity = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void emptyClass(LPWSTR lpClass, LPDWORD lpcchClass) {
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = L'\0';
    if (lpcchClass) *lpcchClass = 0;
}

FILETIME toFileTime(ULONGLONG ticks) {
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

extern "C" LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                                 LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    KeyRef key;
    if (LONG status = resolveKey(hKey, key); status != ERROR_SUCCESS) return status;
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    if (!key.allows(KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::wstring name;
    ULONGLONG lastWrite = 0;
    if (LONG status = key.store->subKeyAt(key.id, dwIndex, name, lastWrite); status != ERROR_SUCCESS) return status;
    if (LONG status = copyName(name, lpName, lpcchName); status != ERROR_SUCCESS) return status;
    emptyClass(lpClass, lpcchClass);
    if (lpftLastWriteTime) *lpftLastWriteTime = toFileTime(lastWrite);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                                 LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    KeyRef key;
    if (LONG status = resolveKey(hKey, key); status != ERROR_SUCCESS) return status;
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    if (!key.allows(KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    ValueRecord value;
    if (LONG status = key.store->valueAt(key.id, dwIndex, value); status != ERROR_SUCCESS) return status;
    if (LONG status = copyName(value.name, lpValueName, lpcchValueName); status != ERROR_SUCCESS) return status;
    if (lpType) *lpType = value.type;
    if (!lpcbData) return ERROR_SUCCESS;
    auto data = toCallerData(value.type, value.bytes);
    auto needed = static_cast<DWORD>(data.size());
    if (lpData) {
        if (*lpcbData < needed) {
            *lpcbData = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, data.data(), data.size());
    }
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                                    LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                    LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    KeyRef key;
    if (LONG status = resolveKey(hKey, key); status != ERROR_SUCCESS) return status;
    KeyInfoRecord info;
    if (LONG status = key.store->keyInfo(key.id, info); status != ERROR_SUCCESS) return status;
    emptyClass(lpClass, lpcchClass);
    if (lpcSubKeys) *lpcSubKeys = info.subKeys;
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubKeyChars;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = info.values;
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueNameChars;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueBytes;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = toFileTime(info.lastWrite);
    return ERROR_SUCCESS;
}
