#include "platform/cf_application.h"

#include "platform/cf_errors.h"
#include "platform/cf_filter_port.h"
#include "platform/cf_item.h"

namespace nimbrel::platform::cf {

HRESULT openAsApplication(const std::string& hostPath, bool read, const ProgressSink& progress) {
    auto store = CfStore::current();
    if (!store) return E_FAIL;
    auto item = resolveItem(*store, hostPath);
    if (!item) return hrWin32(ERROR_FILE_NOT_FOUND);
    if (!item->record) return S_OK;
    // The open succeeds whether or not a provider listens; only data needs one.
    requestThroughPort(item->root->path, PortOperation::Open, item->path, 0, 0);
    if (!read || item->isDirectory() || item->record->hydrated || item->st.st_size == 0) return S_OK;
    const NTSTATUS status = requestThroughPort(item->root->path, PortOperation::Read, item->path, 0, CF_EOF, progress);
    return status == STATUS_SUCCESS ? S_OK : hrWin32(static_cast<long>(win32FromStatus(status)));
}

}  // namespace nimbrel::platform::cf
