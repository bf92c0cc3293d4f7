#pragma once
// Error translation of the Cloud Files stand-in: HRESULTs of the API calls and the NTSTATUS values
// that travel between provider, filter and application.

#include "platform/cfapi.h"

namespace nimbrel::platform::cf {

constexpr HRESULT hrWin32(long error) { return HRESULT_FROM_WIN32(error); }

// Completion statuses outside the cloud-file range are rewritten to STATUS_CLOUD_FILE_UNSUCCESSFUL,
// as the filter does, so an application only ever sees cloud-file errors for a failed hydration.
NTSTATUS normalizeCompletionStatus(NTSTATUS status);

// The Win32 error an application gets for a cloud-file NTSTATUS (STATUS_CLOUD_FILE_IN_USE -> 391).
DWORD win32FromStatus(NTSTATUS status);

// The HRESULT for an errno value of a failed file operation.
HRESULT hrFromErrno(int error);

}  // namespace nimbrel::platform::cf
