// The placeholder bits every attribute query of the file stand-in reports, registered with the file
// functions when the platform library loads, so even a process that never calls a Cloud Files
// function sees placeholders as Windows shows them to a sync engine.

#include <sys/xattr.h>

#include <cerrno>

#include "cf_connection.h"
#include "cf_covered.h"
#include "cf_item.h"
#include "cf_record_codec.h"
#include "platform/descriptor_paths.h"
#include "platform/file_filter_hooks.h"
#include "platform/windows.h"

namespace nimbrel::platform::cf {

namespace {

constexpr DWORD kNotLocal = FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS;
constexpr DWORD kPinBits = FILE_ATTRIBUTE_PINNED | FILE_ATTRIBUTE_UNPINNED;

PlaceholderAttributes attributesOf(const PlaceholderRecord& record, bool isDirectory) {
    PlaceholderAttributes result;
    result.set = FILE_ATTRIBUTE_REPARSE_POINT;
    result.clear = FILE_ATTRIBUTE_NORMAL | kNotLocal | kPinBits;
    result.reparseTag = IO_REPARSE_TAG_CLOUD;
    result.creationTime = record.creationTime;
    if (!isDirectory && !record.hydrated) result.set |= kNotLocal;
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

PlaceholderAttributes placeholderAttributes(const std::string& hostPath, int fd) {
    // Ordinary files carry no record: answer them with one attribute call. A descriptor that
    // reaches the item directly (not through a filter mount, which hides the record) is asked
    // itself; one opened only for its path cannot tell, and the item lookup reads the record then.
    const std::string access = directPath(hostPath, fd);
    const bool throughDescriptor = fd >= 0 && access == "/proc/self/fd/" + std::to_string(fd);
    if (!carriesRecord(access, throughDescriptor ? fd : -1)) return {};
    auto store = CfStore::current();
    if (!store) return {};
    auto item = resolveItem(*store, hostPath, fd);
    if (!item || !item->record) return {};
    return attributesOf(*item->record, item->isDirectory());
}

// The provider's own queries below its connected roots reach the item directly and have examined
// it there already, so its device and inode are at hand and the root is the connected one: the
// record is all that is left to read. Everyone else's view may be the filter
// mount's, whose device and inode are not the record's.
PlaceholderAttributes examinedPlaceholderAttributes(const std::string& hostPath, const std::string& accessPath,
                                                    const struct stat& st) {
    if (accessPath == hostPath) return placeholderAttributes(hostPath, -1);
    const auto record = readRecord(
        RecordFile{accessPath, -1, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    if (!record) return {};
    const std::string root = connectedRootOf(hostPath);
    if (root.empty()) return placeholderAttributes(hostPath, -1);
    if (!isRecordOf(*record, root, st)) return {};
    return attributesOf(*record, S_ISDIR(st.st_mode));
}

// A handle that the provider opened plainly knows which file it holds and where.
PlaceholderAttributes handlePlaceholderAttributes(const FileObject& file) {
    if (!file.openedPlainly) return placeholderAttributes(file.path, file.fd);
    auto store = CfStore::current();
    if (!store) return {};
    auto item = resolveFile(*store, file);
    if (!item || !item->record) return {};
    return attributesOf(*item->record, item->isDirectory());
}

const bool registered = (setPlaceholderAttributeSource(&placeholderAttributes, &examinedPlaceholderAttributes,
                                                       &handlePlaceholderAttributes),
                         true);

}  // namespace

}  // namespace nimbrel::platform::cf
