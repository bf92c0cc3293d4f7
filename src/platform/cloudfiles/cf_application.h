#pragma once
// What an application's open and read of a file do under the Cloud Files filter, for the code that
// plays an application (the file functions, nimbrel-cf, tests): opening a placeholder notifies its
// provider, and reading data that is not local hydrates it through the provider. Requests travel
// through the root's filter port, or straight to the filter core when the provider is this process
// (whose own reads never hydrate). Ordinary files cost one extended-attribute lookup. The file
// functions reach it through the application-access filter it registers.

#include <string>

#include "cf_filter_core.h"

namespace nimbrel::platform::cf {

// NOTIFY_FILE_OPEN_COMPLETION for a placeholder whose provider runs in another process.
void applicationOpened(const std::string& hostPath);

// Makes the whole file local before an application reads it. ERROR_SUCCESS when it may be read now;
// otherwise the Win32 error the read fails with (ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING when no
// provider is connected, the provider's mapped completion status, ERROR_CLOUD_FILE_REQUEST_TIMEOUT,
// ERROR_CLOUD_FILE_ACCESS_DENIED when this process is the provider).
DWORD applicationRead(const std::string& hostPath, const ProgressSink& progress = {});

// Both, as HRESULT: what `nimbrel-cf open [--read]` does.
HRESULT openAsApplication(const std::string& hostPath, bool read, const ProgressSink& progress = {});

}  // namespace nimbrel::platform::cf
