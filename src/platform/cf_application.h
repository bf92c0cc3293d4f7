#pragma once
// What an application's open and read of a file do under the Cloud Files filter, for processes that
// play an application (nimbrel-cf, tests): opening a placeholder notifies its provider, and reading
// data that is not local hydrates it through the provider, through the root's filter port.

#include <string>

#include "platform/cf_filter_core.h"

namespace nimbrel::platform::cf {

// S_OK when the file may now be read; otherwise the HRESULT the application's read fails with
// (0x8007016A when no provider is connected, the provider's mapped completion status, 0x800701AA
// after the fetch time-out).
HRESULT openAsApplication(const std::string& hostPath, bool read, const ProgressSink& progress = {});

}  // namespace nimbrel::platform::cf
