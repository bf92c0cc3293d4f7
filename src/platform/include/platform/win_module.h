#pragma once

#include "platform/win_types.h"

// LoadLibraryW of a file that exists but cannot be loaded.
#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193L
#endif

extern "C" {
// hModule null: the path of the host executable (/proc/self/exe) in Windows form ("\" separators).
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
// A name ending in ".dll" is looked up as the shared library "lib<stem>.so" in the same folder
// (so "<appdir>\ipcmodule.dll" loads "<appdir>/libipcmodule.so"); a bare name is looked for
// beside the host executable, then in the folders of LD_LIBRARY_PATH (where Windows uses PATH).
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
}
