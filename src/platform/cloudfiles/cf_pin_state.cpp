// CfSetPinState and CfSetInSyncState.

#include <dirent.h>

#include <cerrno>

#include "cf_errors.h"
#include "cf_item.h"
#include "platform/fault_injection.h"
#include "platform/kernel_object.h"

using namespace nimbrel::platform;

namespace {

// The state an item gets for CF_PIN_STATE_INHERIT: as if it had just been moved into its parent.
CF_PIN_STATE inherited(CF_PIN_STATE own, CF_PIN_STATE parent, bool isDirectory) {
    if (parent == CF_PIN_STATE_EXCLUDED) return CF_PIN_STATE_EXCLUDED;
    if (own == CF_PIN_STATE_PINNED || own == CF_PIN_STATE_UNPINNED) return own;
    if (parent == CF_PIN_STATE_PINNED) return CF_PIN_STATE_PINNED;
    if (parent == CF_PIN_STATE_UNPINNED) return isDirectory ? CF_PIN_STATE_UNPINNED : CF_PIN_STATE_UNSPECIFIED;
    return CF_PIN_STATE_UNSPECIFIED;
}

// `path` is an item's canonical path or the folder above one.
CF_PIN_STATE pinOf(cf::CfStore& store, const std::string& path) {
    auto item = cf::resolveCanonical(store, path);
    return item && item->record ? item->record->pin : CF_PIN_STATE_UNSPECIFIED;
}

class PinWalk {
public:
    PinWalk(cf::CfStore& store, CF_PIN_STATE state) : store_(store), state_(state) {}

    // Sets the item's own state, through the record lock the item holds if it does; answers the
    // failure for an item that cannot carry one. *set gets the state the item has now.
    HRESULT apply(const cf::Item& item, CF_PIN_STATE parentPin, CF_PIN_STATE* set = nullptr) {
        if (!item.record) return cf::hrWin32(ERROR_NOT_A_CLOUD_FILE);
        const CF_PIN_STATE pin =
            state_ == CF_PIN_STATE_INHERIT ? inherited(item.record->pin, parentPin, item.isDirectory()) : state_;
        auto change = [&](cf::PlaceholderRecord& r) {
            if (r.pin == pin) return false;
            r.pin = pin;
            return true;
        };
        cf::PlaceholderRecord record = *item.record;
        const bool ok = item.lock ? cf::changeLockedRecord(cf::recordFileOf(item), record, change)
                                  : cf::updateRecord(cf::recordFileOf(item), change, nullptr, &record);
        if (!ok) return E_FAIL;
        if (set) *set = pin;
        return S_OK;
    }

    // Everything below `directory`, parents before children so inheritance sees the new states. An
    // item that cannot take the state is passed over, as Windows does without a flag to stop.
    HRESULT below(const std::string& directory, CF_PIN_STATE directoryPin) {
        DIR* dir = ::opendir(directory.c_str());
        if (!dir) return cf::hrFromErrno(errno);
        std::vector<std::string> names;
        while (auto* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
        for (const auto& name : names) {
            const std::string path = directory + "/" + name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
            auto item = cf::resolveItem(store_, path);
            if (!item) continue;
            CF_PIN_STATE pin = CF_PIN_STATE_UNSPECIFIED;
            if (FAILED(apply(*item, directoryPin, &pin)) && item->record) pin = pinOf(store_, path);
            if (item->isDirectory()) below(path, pin);
        }
        return S_OK;
    }

private:
    cf::CfStore& store_;
    CF_PIN_STATE state_;
};

}  // namespace

extern "C" HRESULT CfSetPinState(HANDLE FileHandle, CF_PIN_STATE PinState, CF_SET_PIN_FLAGS PinFlags,
                                 LPOVERLAPPED Overlapped) {
    (void)Overlapped;
    auto file = handleAs<FileObject>(FileHandle);
    if (auto fault = faults::check("CfSetPinState", file ? file->path : std::string())) return *fault;
    if (PinState < CF_PIN_STATE_UNSPECIFIED || PinState > CF_PIN_STATE_INHERIT) return E_INVALIDARG;
    const bool recurseOnly = PinFlags & CF_SET_PIN_FLAG_RECURSE_ONLY;
    const bool recurse = (PinFlags & CF_SET_PIN_FLAG_RECURSE) || recurseOnly;
    std::shared_ptr<cf::CfStore> store;
    std::optional<cf::Item> item;
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::UnderRoot, store, item, !recurseOnly); FAILED(hr))
        return hr;
    if (!item->record && !(recurseOnly && item->isDirectory())) return cf::hrWin32(ERROR_NOT_A_CLOUD_FILE);

    PinWalk walk(*store, PinState);
    CF_PIN_STATE pin = item->record ? item->record->pin : CF_PIN_STATE_UNSPECIFIED;
    if (!recurseOnly) {
        // Only an inherited state depends on the parent's.
        std::optional<cf::PlaceholderRecord> parent;
        if (PinState == CF_PIN_STATE_INHERIT && item->path != item->root->path) parent = cf::parentRecord(*item);
        if (HRESULT hr = walk.apply(*item, parent ? parent->pin : CF_PIN_STATE_UNSPECIFIED, &pin); FAILED(hr)) {
            return hr;
        }
    }
    // The walk takes the record lock of each item below.
    item->lock.reset();
    if (recurse && item->isDirectory()) return walk.below(item->path, pin);
    return S_OK;
}

extern "C" HRESULT CfSetInSyncState(HANDLE FileHandle, CF_IN_SYNC_STATE InSyncState, CF_SET_IN_SYNC_FLAGS InSyncFlags,
                                    USN* InSyncUsn) {
    auto file = handleAs<FileObject>(FileHandle);
    if (auto fault = faults::check("CfSetInSyncState", file ? file->path : std::string())) return *fault;
    if ((InSyncState != CF_IN_SYNC_STATE_NOT_IN_SYNC && InSyncState != CF_IN_SYNC_STATE_IN_SYNC) ||
        InSyncFlags != CF_SET_IN_SYNC_FLAG_NONE) {
        return E_INVALIDARG;
    }
    std::shared_ptr<cf::CfStore> store;
    std::optional<cf::Item> item;
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::PlaceholderUnderRoot, store, item, true); FAILED(hr))
        return hr;
    // A mark that is already set changes nothing: no write, and the item keeps its USN.
    const bool ok = cf::changeLockedRecord(cf::recordFileOf(*item), *item->record, [&](cf::PlaceholderRecord& r) {
        if (r.inSync == InSyncState) return false;
        r.inSync = InSyncState;
        return true;
    });
    if (!ok) return E_FAIL;
    if (InSyncUsn) *InSyncUsn = item->record->usn;
    return S_OK;
}
