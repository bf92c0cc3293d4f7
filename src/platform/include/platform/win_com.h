#pragma once

#include "platform/win_types.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

extern "C" {
// Per-thread apartment bookkeeping: S_OK on the first call of a thread, S_FALSE on a repeated
// call with the same model, RPC_E_CHANGED_MODE when the thread already has the other model.
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
HRESULT CoCreateGuid(GUID* guid);
}
