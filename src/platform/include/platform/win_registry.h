#pragma once
// The registry functions Nimbrel calls, with their Windows names, values and signatures.
//
// Text: wchar_t is 32 bits on this platform. The W functions take and return wchar_t text, and the
// byte counts of string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) count wchar_t units exactly as a
// Windows program computes them with sizeof(wchar_t): a NUL-terminated string of n characters is
// (n + 1) * sizeof(wchar_t) bytes. The registry itself stores that data as UTF-16LE, as Windows
// does, and converts at this boundary; a trailing partial wchar_t of an odd byte count is dropped.
// Name lengths (lpcchName, lpcchValueName) count wchar_t characters. All other types are bytes.
//
// Views: KEY_WOW64_32KEY redirects HKEY_LOCAL_MACHINE\SOFTWARE to HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node;
// everything else (HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, the rest of HKEY_LOCAL_MACHINE) is shared by
// both views. A call with neither KEY_WOW64_32KEY nor KEY_WOW64_64KEY behaves as from a 64-bit process
// (the native view), except that a key opened in the 32-bit view keeps that view for calls made
// through its handle. HKEY_CLASSES_ROOT is a root of its own, not a merged view of the classes keys.
//
// The functions return Win32 error codes and leave GetLastError untouched, as on Windows. State is
// machine-wide: one database below the platform home, shared by every process.
//
// Fault rules (test only, fault_injection.h) for RegCreateKeyExW, RegOpenKeyExW, RegDeleteKeyExW,
// RegDeleteTreeW, RegSetValueExW, RegQueryValueExW and RegDeleteValueW match the full key path as the
// caller spelled it, with the root's long name and after view redirection, for example
// "RegSetValueExW@HKEY_CURRENT_USER\Software\Tellwick\Orvane=0x80070005"; the call then returns
// the rule's HRESULT_CODE.

#include "platform/win_types.h"

using LSTATUS = LONG;
using PFILETIME = FILETIME*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(LONG(0x80000000)))))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(LONG(0x80000001)))))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(LONG(0x80000002)))))

// Access rights of a key.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_WOW64_RES 0x0300u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_EXECUTE 0x20019u
#define KEY_ALL_ACCESS 0xF003Fu

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u
#define REG_QWORD_LITTLE_ENDIAN 11u

// RegCreateKeyExW options and dispositions. Volatile keys are kept like the others: nothing here
// models a reboot.
#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_OPTION_VOLATILE 0x1u
#define REG_CREATED_NEW_KEY 0x1u
#define REG_OPENED_EXISTING_KEY 0x2u

// RegNotifyChangeKeyValue filter. No call of this registry changes a key's attributes or security,
// so watches for only those two kinds wake on nothing but the deletion or closing of the key.
#define REG_NOTIFY_CHANGE_NAME 0x1u
#define REG_NOTIFY_CHANGE_ATTRIBUTES 0x2u
#define REG_NOTIFY_CHANGE_LAST_SET 0x4u
#define REG_NOTIFY_CHANGE_SECURITY 0x8u
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000u


// Registry error codes not in the base set.
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_UNSUPPORTED_TYPE 1630L

extern "C" {
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition);
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS RegCloseKey(HKEY hKey);
// Forces a checkpoint of the database; every completed call is already visible to all processes.
LSTATUS RegFlushKey(HKEY hKey);

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);

LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD Reserved);
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// Sub-keys enumerate in case-insensitive name order, values in the order they were first set.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime);

// Changes made by any process wake the watch. A watch is one-shot, as on Windows: it is signalled
// once (a change of a kind in the filter to the key, or below it with bWatchSubtree; the deletion
// of the key; the closing of its handle) and must be armed again. Watches outlive the thread that
// armed them, as if REG_NOTIFY_THREAD_AGNOSTIC were always given. Only asynchronous watches with an
// event exist here (the way Nimbrel watches); a synchronous call fails with ERROR_INVALID_PARAMETER.
LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent, BOOL fAsynchronous);
}
