#pragma once

#include "platform/win_types.h"

extern "C" {
// Named mutexes are machine-wide (scoped by NIMBREL_RUNTIME_DIR): a second CreateMutexW of a
// name that another process holds answers a valid handle with ERROR_ALREADY_EXISTS. Mutexes are
// names only: initial ownership fails with ERROR_NOT_SUPPORTED, ReleaseMutex with ERROR_NOT_OWNER,
// and a mutex cannot be waited on.
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();
}
