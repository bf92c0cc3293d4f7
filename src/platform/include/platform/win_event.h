#pragma once
// Event objects. WaitForSingleObject waits on them through KernelObject::wait.
//
// Events are unnamed and manual-reset, the kind Nimbrel waits on: a name would make them machine-wide
// on Windows, which nothing here needs, so CreateEventW with a name (or for an auto-reset event)
// fails with ERROR_NOT_SUPPORTED rather than hand out something else.

#include "platform/win_types.h"

extern "C" {
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName);
BOOL ResetEvent(HANDLE hEvent);
}
