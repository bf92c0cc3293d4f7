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

std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

class PinWalk {
public:
    PinWalk(cf::CfStore& store, CF_PIN_STATE state) : store_(store), state_(state) {}

    // Sets the item's own state; answers the failure for an item that cannot carry one.
    HRESULT apply(const cf::Item& item, CF_PIN_STATE parentPin) {
        if (!item.record) return cf::hrWin32(ERROR_NOT_A_CLOUD_FILE);
        const CF_PIN_STATE pin =
            state_ == CF_PIN_STATE_INHERIT ? inherited(item.record->pin, parentPin, item.isDirectory()) : state_;
        const bool ok = cf::updateRecord(
            cf::recordFileOf(item),
            [&](cf::PlaceholderRecord& r) {
                if (r.pin == pin) return false;
                r.pin = pin;
                return true;
            },
            nullptr, &*item.record);
        return ok ? S_OK : E_FAIL;
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
            apply(*item, directoryPin);
            if (item->isDirectory()) below(path, pinOf(store_, path));
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
    std::shared_ptr<cf::CfStore> store;
    std::optional<cf::Item> item;
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::UnderRoot, store, item); FAILED(hr)) return hr;
    const bool recurseOnly = PinFlags & CF_SET_PIN_FLAG_RECURSE_ONLY;
    const bool recurse = (PinFlags & CF_SET_PIN_FLAG_RECURSE) || recurseOnly;
    if (!item->record && !(recurseOnly && item->isDirectory())) return cf::hrWin32(ERROR_NOT_A_CLOUD_FILE);

    PinWalk walk(*store, PinState);
    if (!recurseOnly) {
        // Only an inherited state depends on the parent's.
        const CF_PIN_STATE parentPin = PinState != CF_PIN_STATE_INHERIT || item->path == item->root->path
                                           ? CF_PIN_STATE_UNSPECIFIED
                                           : pinOf(*store, parentOf(item->path));
        if (HRESULT hr = walk.apply(*item, parentPin); FAILED(hr)) return hr;
    }
    if (recurse && item->isDirectory()) {
        return walk.below(item->path, pinOf(*store, item->path));
    }
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
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::PlaceholderUnderRoot, store, item); FAILED(hr))
        return hr;
    // A mark that is already set changes nothing: no write, and the item keeps its USN.
    cf::PlaceholderRecord after;
    const bool ok = cf::updateRecord(
        cf::recordFileOf(*item),
        [&](cf::PlaceholderRecord& r) {
            if (r.inSync == InSyncState) return false;
            r.inSync = InSyncState;
            return true;
        },
        &after, &*item->record);
    if (!ok) return E_FAIL;
    const std::int64_t usn = after.usn;
    if (InSyncUsn) *InSyncUsn = usn;
    return S_OK;
}
