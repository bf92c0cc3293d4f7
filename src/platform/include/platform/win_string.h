#pragma once

#include "platform/win_types.h"

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif

extern "C" {
// CP_UTF8, and CP_ACP as the local 8-bit code page (GBK, as on a Chinese Windows) for reading only;
// no flags. WCHAR is the host's wchar_t, so lengths on the wide side count code points.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength, LPWSTR wide, int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR multiByte, int multiByteLength,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);
}
