#include "suite/base/get_pid.h"

#include "platform/windows.h"

DWORD GetPid() { return GetCurrentProcessId(); }
