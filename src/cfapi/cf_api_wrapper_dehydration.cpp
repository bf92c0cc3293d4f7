// Dehydration: the placeholder stays, its data goes, and it is rewritten with its identity and
// marked in sync in the same update.
#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

int CfApiWrapper::dehydratePlaceholder(const QString& path, qint64 size, const QByteArray& identityUtf8,
                                       const KnownItemState* known) {
    Q_UNUSED(size);
    if (isTransientFile(path, -1)) return 0;
    if (identityUtf8.isEmpty()) {
        LOG_INFO << "Invalid parameters for dehydratePlaceholder:" << path;
        return 1;
    }
    // The file is opened once: the exclusive oplock open, or when another process holds the file, an
    // ordinary handle (the caller's, when it holds one); whether it is a placeholder is read through
    // the same handle. An attribute handle does not stand in the way of the oplock.
    HANDLE protectedHandle = INVALID_HANDLE_VALUE;
    const HRESULT oplockResult =
        CfOpenFileWithOplock(wide(toLongPath(path)).c_str(), CF_OPEN_FILE_FLAG_EXCLUSIVE, &protectedHandle);
    const bool haveProtected =
        SUCCEEDED(oplockResult) && protectedHandle != INVALID_HANDLE_VALUE && protectedHandle != nullptr;
    const bool haveKnown = known && known->handle;
    ScopedHandle handle = haveProtected || haveKnown ? ScopedHandle() : handleForPath(path);
    const HANDLE target = haveProtected ? CfGetWin32HandleFromProtectedHandle(protectedHandle)
                          : haveKnown   ? known->handle.get()
                                        : handle.get();
    const bool haveTarget = haveProtected || haveKnown || handle;
    if (!(known && known->isPlaceholder)) {
        if (!haveTarget) LOG_INFO << "handleForPath invalid handle, path:" << path;
        if (!haveTarget || !basicPlaceholderInfo(target, path)) {
            if (haveProtected) CfCloseHandle(protectedHandle);
            LOG_INFO << "Can't update non-existing placeholder info:" << path;
            return 1;
        }
    }
    // Another process holds the file; the update is still tried with the ordinary handle.
    if (FAILED(oplockResult)) LOG_INFO << "Open File With OpLock Failed, " << path << "hr : " << hex(oplockResult);
    if (!haveTarget) {
        LOG_INFO << "Couldn't update placeholder info for" << path << ",handle is INVALID_HANDLE_VALUE ";
        return 1;
    }
    // Written without its NUL; it reads back as the same text as the blob creation writes.
    QString identityText = QString::fromUtf8(identityUtf8.constData(), identityUtf8.size());
    DWORD identityLength = static_cast<DWORD>(identityText.size() * sizeof(char16_t));
    CF_FILE_RANGE range{};
    range.StartingOffset.QuadPart = 0;
    range.Length.QuadPart = CF_EOF;
    const HRESULT hr = CfUpdatePlaceholder(target, nullptr, identityText.utf16(), identityLength, &range, 1,
                                           CF_UPDATE_FLAG_MARK_IN_SYNC | CF_UPDATE_FLAG_DEHYDRATE, nullptr, nullptr);
    handle.close();
    if (haveProtected) CfCloseHandle(protectedHandle);
    if (FAILED(hr)) {
        LOG_INFO << "Couldn't update placeholder info for" << path << "hr : " << hex(hr);
        return 1;
    }
    return 0;
}
