#pragma once
// The one place where errno values become Win32 error codes.

#include <string>

#include "platform/win_types.h"

namespace nimbrel::platform {

DWORD win32ErrorFromErrno(int error);
// Sets the thread's last error from errno (or the given value) and answers it.
DWORD setLastErrorFromErrno(int error);
// Like setLastErrorFromErrno, but a missing path tells a missing file (ERROR_FILE_NOT_FOUND) from a
// missing folder on the way to it (ERROR_PATH_NOT_FOUND), as Windows does.
DWORD setLastErrorForPath(int error, const std::string& hostPath);

}  // namespace nimbrel::platform
