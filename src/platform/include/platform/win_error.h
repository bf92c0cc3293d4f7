#pragma once

#include <cstdarg>

#include "platform/win_types.h"

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define ERROR_MR_MID_NOT_FOUND 317L
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))

extern "C" {
// Thread-local, as on Windows.
DWORD GetLastError();
void SetLastError(DWORD error);

// FORMAT_MESSAGE_FROM_SYSTEM: the system's text for a Win32 error code or an HRESULT, ending in
// "\r\n" like Windows' own; 0 with ERROR_MR_MID_NOT_FOUND (317) for an unknown code.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     va_list* arguments);
HLOCAL LocalFree(HLOCAL memory);
}
