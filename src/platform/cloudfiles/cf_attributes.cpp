// The placeholder bits every attribute query of the file stand-in reports, registered with the file
// functions when the platform library loads, so even a process that never calls a Cloud Files
// function sees placeholders as Windows shows them to a sync engine.

#include <sys/xattr.h>

#include "cf_covered.h"
#include "cf_item.h"
#include "platform/file_filter_hooks.h"
#include "platform/windows.h"

namespace nimbrel::platform::cf {

namespace {

constexpr DWORD kNotLocal = FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS;
constexpr DWORD kPinBits = FILE_ATTRIBUTE_PINNED | FILE_ATTRIBUTE_UNPINNED;

PlaceholderAttributes placeholderAttributes(const std::string& hostPath, int fd) {
    PlaceholderAttributes result;
    // Ordinary files carry no token: answer them without touching the store.
    const std::string access = directPath(hostPath, fd);
    if (::getxattr(access.c_str(), "user.nimbrel.cf", nullptr, 0) <= 0) return result;
    auto store = CfStore::current();
    if (!store) return result;
    auto item = resolveItem(*store, hostPath, fd);
    if (!item || !item->record) return result;
    const auto& record = *item->record;
    result.set = FILE_ATTRIBUTE_REPARSE_POINT;
    result.clear = FILE_ATTRIBUTE_NORMAL | kNotLocal | kPinBits;
    result.reparseTag = IO_REPARSE_TAG_CLOUD;
    result.creationTime = record.creationTime;
    if (!item->isDirectory() && !record.hydrated) result.set |= kNotLocal;
    switch (record.pin) {
        case CF_PIN_STATE_PINNED:
            result.set |= FILE_ATTRIBUTE_PINNED;
            break;
        case CF_PIN_STATE_UNPINNED:
            result.set |= FILE_ATTRIBUTE_UNPINNED;
            break;
        case CF_PIN_STATE_EXCLUDED:
            result.set |= kPinBits;
            break;
        default:
            break;
    }
    return result;
}

const bool registered = (setPlaceholderAttributeSource(&placeholderAttributes), true);

}  // namespace

}  // namespace nimbrel::platform::cf
