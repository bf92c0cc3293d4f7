#pragma once
// The window-message subset Nimbrel calls: the settings-change broadcast that makes Explorer
// re-read its namespace. No windows exist here; a broadcast is recorded in the user's shell
// journal (platform/shell_journal.h) and answered as if every top-level window had handled it.

#include "platform/win_types.h"

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using PDWORD_PTR = DWORD_PTR*;

#define HWND_BROADCAST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(0xffff)))
#define WM_SETTINGCHANGE 0x001Au

#define ERROR_INVALID_WINDOW_HANDLE 1400L

#define SMTO_NORMAL 0x0000u
#define SMTO_BLOCK 0x0001u
#define SMTO_ABORTIFHUNG 0x0002u
#define SMTO_NOTIMEOUTIFNOTHUNG 0x0008u

extern "C" {
// Only HWND_BROADCAST with WM_SETTINGCHANGE is delivered (lParam is the setting's name as wide
// text, or null); other windows do not exist (ERROR_INVALID_WINDOW_HANDLE, 0 returned).
LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            PDWORD_PTR lpdwResult);
}
