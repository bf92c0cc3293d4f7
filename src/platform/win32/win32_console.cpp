#include "platform/win_console.h"
#include "platform/win_error.h"
#include "platform/win_string.h"

// The terminal already shows UTF-8, and UTF-8 is the only output page the stand-in offers.
extern "C" BOOL SetConsoleOutputCP(UINT codePage) {
    if (codePage != CP_UTF8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
