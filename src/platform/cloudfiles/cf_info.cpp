// CfGetPlaceholderInfo and CfGetPlaceholderStateFromAttributeTag.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "cf_errors.h"
#include "cf_item.h"
#include "platform/fault_injection.h"
#include "platform/kernel_object.h"

using namespace nimbrel::platform;

namespace {

// How long a sync root's file id is taken as known: every placeholder-info read reports it, and a
// root folder is made again only between registrations, far more slowly.
constexpr auto kRootIdKept = std::chrono::seconds(1);

struct KnownRootId {
    LONGLONG id = 0;
    std::chrono::steady_clock::time_point read;
};

struct KnownRootIds {
    std::mutex mutex;
    std::map<std::string, KnownRootId> byPath;
};

LONGLONG rootFileId(const std::string& rootPath) {
    static auto* known = new KnownRootIds;  // read by queries during static destruction too
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(known->mutex);
    KnownRootId& root = known->byPath[rootPath];
    if (root.id == 0 || now - root.read >= kRootIdKept) {
        struct stat rootStat {};
        root.id = ::stat(rootPath.c_str(), &rootStat) == 0 ? static_cast<LONGLONG>(rootStat.st_ino) : 0;
        root.read = now;
    }
    return root.id;
}

std::vector<char> layout(const cf::Item& item) {
    CF_PLACEHOLDER_BASIC_INFO fixed{};
    const auto& record = *item.record;
    fixed.PinState = record.pin;
    fixed.InSyncState = record.inSync;
    fixed.FileId.QuadPart = static_cast<LONGLONG>(item.st.st_ino);
    fixed.SyncRootFileId.QuadPart = rootFileId(item.root->path);
    fixed.FileIdentityLength = static_cast<ULONG>(record.identity.size());
    const std::size_t head = offsetof(CF_PLACEHOLDER_BASIC_INFO, FileIdentity);
    std::vector<char> bytes(head + record.identity.size());
    std::memcpy(bytes.data(), &fixed, head);
    std::memcpy(bytes.data() + head, record.identity.data(), record.identity.size());
    return bytes;
}

}  // namespace

extern "C" HRESULT CfGetPlaceholderInfo(HANDLE FileHandle, CF_PLACEHOLDER_INFO_CLASS InfoClass, PVOID InfoBuffer,
                                        DWORD InfoBufferLength, PDWORD ReturnedLength) {
    auto file = handleAs<FileObject>(FileHandle);
    if (auto fault = faults::check("CfGetPlaceholderInfo", file ? file->path : std::string())) return *fault;
    if (ReturnedLength) *ReturnedLength = 0;
    if (!InfoBuffer && InfoBufferLength) return E_INVALIDARG;
    std::shared_ptr<cf::CfStore> store;
    std::optional<cf::Item> item;
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::Placeholder, store, item); FAILED(hr)) return hr;

    if (InfoClass != CF_PLACEHOLDER_INFO_BASIC) return E_INVALIDARG;
    const std::vector<char> bytes = layout(*item);
    const DWORD copied = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), InfoBufferLength));
    if (copied) std::memcpy(InfoBuffer, bytes.data(), copied);
    if (ReturnedLength) *ReturnedLength = copied;
    return copied < bytes.size() ? cf::hrWin32(ERROR_MORE_DATA) : S_OK;
}

extern "C" CF_PLACEHOLDER_STATE CfGetPlaceholderStateFromAttributeTag(DWORD FileAttributes, DWORD ReparseTag) {
    if (!(FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (ReparseTag & ~IO_REPARSE_TAG_CLOUD_MASK) != IO_REPARSE_TAG_CLOUD) {
        return CF_PLACEHOLDER_STATE_NO_STATES;
    }
    CF_PLACEHOLDER_STATE state = CF_PLACEHOLDER_STATE_PLACEHOLDER;
    if (FileAttributes & (FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS)) {
        state |= CF_PLACEHOLDER_STATE_PARTIAL | CF_PLACEHOLDER_STATE_PARTIALLY_ON_DISK;
    }
    return state;
}
