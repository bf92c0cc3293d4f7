#include "platform/cf_application.h"

#include <sys/xattr.h>
#include <unistd.h>

#include "platform/cf_connection.h"
#include "platform/cf_errors.h"
#include "platform/cf_filter_port.h"
#include "platform/cf_item.h"

namespace nimbrel::platform::cf {

namespace {

std::optional<Item> placeholderAt(const std::string& hostPath) {
    if (::getxattr(hostPath.c_str(), "user.nimbrel.cf", nullptr, 0) <= 0) return std::nullopt;
    auto store = CfStore::current();
    if (!store) return std::nullopt;
    auto item = resolveItem(*store, hostPath);
    if (!item || !item->record) return std::nullopt;
    return item;
}

}  // namespace

void applicationOpened(const std::string& hostPath) {
    auto item = placeholderAt(hostPath);
    // The provider's own opens are its business, not an application's.
    if (!item || filterCoreFor(item->root->path)) return;
    requestThroughPort(item->root->path, PortOperation::Open, item->path, 0, 0);
}

DWORD applicationRead(const std::string& hostPath, const ProgressSink& progress) {
    auto item = placeholderAt(hostPath);
    if (!item || item->isDirectory() || item->record->hydrated || item->st.st_size == 0) return ERROR_SUCCESS;
    NTSTATUS status = STATUS_SUCCESS;
    if (auto core = filterCoreFor(item->root->path)) {
        Requester self;
        self.processId = static_cast<DWORD>(::getpid());
        status = core->requestData(item->path, 0, CF_EOF, self, progress);
    } else {
        status = requestThroughPort(item->root->path, PortOperation::Read, item->path, 0, CF_EOF, progress);
    }
    return win32FromStatus(status);
}

HRESULT openAsApplication(const std::string& hostPath, bool read, const ProgressSink& progress) {
    if (::access(hostPath.c_str(), F_OK) != 0) return hrWin32(ERROR_FILE_NOT_FOUND);
    applicationOpened(hostPath);
    if (!read) return S_OK;
    const DWORD error = applicationRead(hostPath, progress);
    return error == ERROR_SUCCESS ? S_OK : hrWin32(static_cast<long>(error));
}

}  // namespace nimbrel::platform::cf
