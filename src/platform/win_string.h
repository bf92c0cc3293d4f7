#pragma once

#include "platform/win_types.h"

extern "C" {
// CP_UTF8, and CP_ACP as the local 8-bit code page (GBK, as on a Chinese Windows).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength, LPWSTR wide,
                        int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR multiByte,
                        int multiByteLength, LPCSTR defaultChar, BOOL* usedDefaultChar);
}
