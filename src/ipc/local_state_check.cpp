#include "ipc/local_state_check.h"

#include <memory>

#include "cfapi/cf_api_wrapper.h"
#include "suite/base/x_file_info.h"

namespace {

// Room for the largest identity the platform allows.
constexpr DWORD kFullInfoSize = sizeof(CF_PLACEHOLDER_BASIC_INFO) + 4096;

LocalStateCheck incomplete(LocalStateCheck check, const char* reason) {
    check.incomplete = true;
    check.reason = reason;
    return check;
}

int pinStateOf(CF_PIN_STATE state) {
    switch (state) {
        case CF_PIN_STATE_UNSPECIFIED:
            return 3;
        case CF_PIN_STATE_PINNED:
            return 1;
        case CF_PIN_STATE_UNPINNED:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

LocalStateCheck checkLocalStateIncomplete(const QString& path, const CXFileInfo& local, qint64 size, bool isVirtual) {
    LocalStateCheck check;
    if (isVirtual || !local.exists()) return check;
    // An editor's temporary file is never opened, as handleForPath(path) would refuse it.
    const bool transient = CfApiWrapper::isTransientFile(path, local.isDir() ? PlaceholderItemInfo::kFolderType : 1);
    ScopedHandle handle = transient ? ScopedHandle() : CfApiWrapper::handleForPath(path, local);
    if (!handle) return incomplete(check, "open-state-handle-failed");

    if (local.isDir() || size == 0) {
        check.hydrated = 1;
    } else {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
            return incomplete(check, "hydration-state-unavailable");
        }
        const CF_PLACEHOLDER_STATE state = CfGetPlaceholderStateFromAttributeTag(tag.FileAttributes, tag.ReparseTag);
        if (state == CF_PLACEHOLDER_STATE_INVALID || !(state & CF_PLACEHOLDER_STATE_PLACEHOLDER)) {
            return incomplete(check, "not-placeholder");
        }
        check.hydrated = (state & (CF_PLACEHOLDER_STATE_PARTIAL | CF_PLACEHOLDER_STATE_PARTIALLY_ON_DISK)) ? 0 : 1;
        if (!check.hydrated) return incomplete(check, "not-hydrated");
    }

    auto buffer = std::make_unique<BYTE[]>(kFullInfoSize);
    DWORD returned = 0;
    if (FAILED(CfGetPlaceholderInfo(handle.get(), CF_PLACEHOLDER_INFO_BASIC, buffer.get(), kFullInfoSize, &returned))) {
        return incomplete(check, "placeholder-info-unavailable");
    }
    const auto* info = reinterpret_cast<const CF_PLACEHOLDER_BASIC_INFO*>(buffer.get());
    check.pinState = pinStateOf(info->PinState);
    check.inSyncState = static_cast<int>(info->InSyncState);
    if (check.pinState == 1 && check.hydrated == 1 && check.inSyncState == 1) return check;
    return incomplete(check, check.pinState == 1 ? "not-in-sync" : "not-always-local");
}
