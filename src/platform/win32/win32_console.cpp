#include "platform/win_console.h"
#include "platform/win_error.h"
#include "platform/win_string.h"
#include "win32_codepage.h"

// The terminal already shows UTF-8, so only the choice itself is checked, as Windows does.
extern "C" BOOL SetConsoleOutputCP(UINT codePage) {
    if (!nimbrel::platform::charsetForCodePage(codePage) || codePage == CP_ACP || codePage == CP_OEMCP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
