#include <atomic>

#include "platform/win_console.h"
#include "platform/win_error.h"
#include "platform/win_string.h"
#include "win32_codepage.h"

namespace {
// The console starts in the OEM code page of a Chinese Windows.
std::atomic<UINT> outputCodePage{936};
}  // namespace

extern "C" BOOL SetConsoleOutputCP(UINT codePage) {
    if (!nimbrel::platform::charsetForCodePage(codePage) || codePage == CP_ACP || codePage == CP_OEMCP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    outputCodePage = codePage;
    return TRUE;
}

extern "C" UINT GetConsoleOutputCP() { return outputCodePage; }
