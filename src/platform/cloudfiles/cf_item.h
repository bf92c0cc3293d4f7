#pragma once
// A file or folder as the Cloud Files stand-in sees it: where it is, which sync root holds it and,
// when it is a placeholder, its record (kept on the file, see cf_record_file.h).

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>

#include "cf_record_file.h"
#include "cf_store.h"
#include "platform/kernel_object.h"

namespace nimbrel::platform::cf {

struct Item {
    std::string path;    // canonical host path, as it is now
    std::string access;  // path to use for system calls on it (a /proc/self/fd link for handles)
    struct ::stat st {};
    std::shared_ptr<const SyncRootRecord> root;
    std::optional<PlaceholderRecord> record;  // set when the item is a placeholder of `root`
    // The cheapest way found to its record attribute (see recordFileOf).
    std::string recordPath;
    int recordFd = -1;
    int statFd = -1;  // a descriptor of it, maybe opened only for its path
    // `st` was looked at while `lock` was held: what it shows holds until the lock goes.
    bool lookedUnderLock = false;
    // The item carries a record attribute that no record can be read from: a placeholder of an
    // earlier build whose record a machine that stopped did not keep.
    bool recordLost = false;
    // Held from before the record was read when the item was found for a change of its record
    // (see changeLockedRecord); reset to let go of it. A thread holds one record lock at a time.
    std::shared_ptr<RecordLock> lock;

    bool isDirectory() const { return S_ISDIR(st.st_mode); }
    bool isPlaceholder() const { return record.has_value(); }
};

// The item at `hostPath`, or behind `fd` when fd >= 0 (so a renamed open file is still found).
// `forChange`: its record is read under its lock, which the item then holds.
std::optional<Item> resolveItem(CfStore& store, const std::string& hostPath, int fd = -1, bool forChange = false);
// The item at `hostPath`, a path that was canonical a moment ago (the folder above an item just
// resolved): where the provider reaches it directly, one look below the covered folder finds it.
std::optional<Item> resolveCanonical(CfStore& store, const std::string& hostPath);
// The item behind a file handle; *error gets E_HANDLE-style errors when there is none.
std::optional<Item> resolveHandle(CfStore& store, HANDLE handle, HRESULT* error, bool forChange = false);
// The item behind an open file.
std::optional<Item> resolveFile(CfStore& store, const FileObject& file, bool forChange = false);
// The record of the folder that holds `item`, an item below its root, read without taking a
// record lock (the caller may hold the item's); none when that folder is no placeholder.
std::optional<PlaceholderRecord> parentRecord(const Item& item);

// What a Cf call on a file handle needs of the item behind it.
enum class ItemNeed { UnderRoot, Placeholder, PlaceholderUnderRoot };
// The store and the item a Cf call works on, or the HRESULT the call fails with when the handle,
// the store, the sync root or the placeholder record it needs is missing. `forChange` as for
// resolveItem.
HRESULT itemForCall(HANDLE handle, ItemNeed need, std::shared_ptr<CfStore>& store, std::optional<Item>& item,
                    bool forChange = false);

// A descriptor (O_PATH) of the folder at `hostPath` when it lies below a root this process is
// connected to and is named plainly, with no symbolic link on its way: the path as given is then
// canonical already. -1 otherwise.
int openFolderPlainly(const std::string& hostPath);
// realpath of an existing path, or of the parent plus the last name when it does not exist.
std::string canonicalPath(const std::string& hostPath);
// Where the item's record is read and written, while the descriptor it was reached through is open.
RecordFile recordFileOf(const Item& item);

// A descriptor for writing the data of a placeholder even when its read-only attribute took the
// write permission away: the filter writes content that the user cannot. -1 with errno on failure.
int openForWriting(const std::string& path);

// A new record for `item` (not yet stored), placed in its root.
PlaceholderRecord newRecord(const Item& item);

}  // namespace nimbrel::platform::cf
