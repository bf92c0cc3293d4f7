#include "cf_application.h"

#include <sys/xattr.h>
#include <unistd.h>

#include "cf_connection.h"
#include "cf_covered.h"
#include "cf_errors.h"
#include "cf_filter_port.h"
#include "cf_item.h"
#include "platform/descriptor_paths.h"
#include "platform/file_filter_hooks.h"

namespace nimbrel::platform::cf {

namespace {

// fd >= 0 looks the file up through the descriptor, hostPath otherwise.
std::optional<Item> placeholderAt(const std::string& hostPath, int fd) {
    // A descriptor opened through a filter mount is served by the mount, which hydrates for itself.
    if (fd >= 0 && onFilterMount(hostPath, fd)) return std::nullopt;
    if (fd >= 0 ? !carriesRecord("", fd) : !carriesRecord(directPath(hostPath))) return std::nullopt;
    auto store = CfStore::current();
    if (!store) return std::nullopt;
    auto item = resolveItem(*store, hostPath, fd);
    if (!item || !item->record) return std::nullopt;
    return item;
}

void notifyOpen(const std::optional<Item>& item) {
    // The provider's own opens are its business, not an application's.
    if (!item || filterCoreFor(item->root->path)) return;
    requestThroughPort(item->root->path, PortOperation::Open, item->path, 0, 0);
}

bool dataIsLocal(const Item& item) { return item.isDirectory() || item.record->hydrated || item.st.st_size == 0; }

DWORD fetchWholeFile(const Item& item, const std::shared_ptr<FilterCore>& core, const ProgressSink& progress) {
    NTSTATUS status = STATUS_SUCCESS;
    if (core) {
        Requester self;
        self.processId = static_cast<DWORD>(::getpid());
        status = core->requestData(item.path, 0, CF_EOF, self, progress);
    } else {
        status = requestThroughPort(item.root->path, PortOperation::Read, item.path, 0, CF_EOF, progress);
    }
    return win32FromStatus(status);
}

// The file functions' handles: the descriptor finds the file even after a rename. The provider's
// own reads go on with the bytes as they are, because it reads its placeholders through these
// functions and its reads never hydrate.
void handleOpened(int fd) { notifyOpen(placeholderAt({}, fd)); }

DWORD handleRead(int fd) {
    auto item = placeholderAt({}, fd);
    if (!item || dataIsLocal(*item) || filterCoreFor(item->root->path)) return ERROR_SUCCESS;
    return fetchWholeFile(*item, nullptr, {});
}

const bool registered = (setApplicationAccessFilter({&handleOpened, &handleRead}), true);

}  // namespace

void applicationOpened(const std::string& hostPath) { notifyOpen(placeholderAt(hostPath, -1)); }

DWORD applicationRead(const std::string& hostPath, const ProgressSink& progress) {
    auto item = placeholderAt(hostPath, -1);
    if (!item || dataIsLocal(*item)) return ERROR_SUCCESS;
    return fetchWholeFile(*item, filterCoreFor(item->root->path), progress);
}

HRESULT openAsApplication(const std::string& hostPath, bool read, const ProgressSink& progress) {
    if (::access(hostPath.c_str(), F_OK) != 0) return hrWin32(ERROR_FILE_NOT_FOUND);
    applicationOpened(hostPath);
    if (!read) return S_OK;
    const DWORD error = applicationRead(hostPath, progress);
    return error == ERROR_SUCCESS ? S_OK : hrWin32(static_cast<long>(error));
}

}  // namespace nimbrel::platform::cf
