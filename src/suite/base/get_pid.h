#pragma once

#include "platform/win_types.h"

// The id of the calling process.
DWORD GetPid();
