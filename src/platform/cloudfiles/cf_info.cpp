// CfGetPlaceholderInfo and CfGetPlaceholderStateFromAttributeTag.

#include <algorithm>
#include <cstring>
#include <vector>

#include "cf_errors.h"
#include "cf_item.h"
#include "platform/fault_injection.h"
#include "platform/kernel_object.h"
#include "platform/win32_file_support.h"

using namespace nimbrel::platform;

namespace {

template <typename Info>
std::vector<char> layout(const cf::Item& item, Info& fixed) {
    const auto& record = *item.record;
    fixed.PinState = record.pin;
    fixed.InSyncState = record.inSync;
    fixed.FileId.QuadPart = static_cast<LONGLONG>(item.st.st_ino);
    struct stat rootStat {};
    ::stat(item.root->path.c_str(), &rootStat);
    fixed.SyncRootFileId.QuadPart = static_cast<LONGLONG>(rootStat.st_ino);
    fixed.FileIdentityLength = static_cast<ULONG>(record.identity.size());
    const std::size_t head = offsetof(Info, FileIdentity);
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

    std::vector<char> bytes;
    if (InfoClass == CF_PLACEHOLDER_INFO_BASIC) {
        CF_PLACEHOLDER_BASIC_INFO info{};
        bytes = layout(*item, info);
    } else if (InfoClass == CF_PLACEHOLDER_INFO_STANDARD) {
        CF_PLACEHOLDER_STANDARD_INFO info{};
        const std::int64_t size = item->isDirectory() ? 0 : item->st.st_size;
        info.OnDiskDataSize.QuadPart = std::min<std::int64_t>(size, dataAllocationBytes(item->access, -1, item->st));
        info.ValidatedDataSize.QuadPart = item->record->hydrated ? size : 0;
        bytes = layout(*item, info);
    } else {
        return E_INVALIDARG;
    }
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
