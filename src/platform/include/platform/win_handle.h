#pragma once

#include "platform/win_types.h"

extern "C" {
BOOL CloseHandle(HANDLE handle);
}
