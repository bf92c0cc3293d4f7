#pragma once

#include "platform/win_types.h"

extern "C" {
// hModule null: the path of the host executable (/proc/self/exe) in Windows form ("\" separators).
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
// A name ending in ".dll" is looked up as the shared library "lib<stem>.so" in the same folder
// (so "<appdir>\ipcmodule.dll" loads "<appdir>/libipcmodule.so").
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
}
