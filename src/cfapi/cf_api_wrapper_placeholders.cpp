// Placeholder creation and conversion, and the two primitives every other operation starts from:
// a handle for a path and a placeholder's basic information.
#include <QDebug>
#include <QtGlobal>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "cfapi/pinned_folder_memo.h"
#include "suite/base/winpath.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

// findPlaceholderInfo reads into a buffer of this size, so identities longer than 65 characters
// (plus the NUL) do not fit and read back as "no information".
constexpr DWORD kBasicInfoSize = 160;
const HRESULT kNotACloudFile = HRESULT_FROM_WIN32(ERROR_NOT_A_CLOUD_FILE);
const HRESULT kIncompatibleHardLinks = HRESULT_FROM_WIN32(ERROR_CLOUD_FILE_INCOMPATIBLE_HARDLINKS);
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isHexDigit(QChar c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

// Whether the last part of the cleaned path is eight hexadecimal digits. Every projected item asks,
// several times: the last part is read in place, as cleaning changes it only when it is empty, "."
// or "..", and no more than its last nine characters are looked at.
bool nameIsEightHexDigits(const QString& path) {
    const int size = path.size();
    int start = size;
    while (start > 0 && size - start <= 8 && !isSeparator(path.at(start - 1))) --start;
    const int length = size - start;
    if (length == 0 || (length <= 2 && path.at(start) == QLatin1Char('.') && path.at(size - 1) == QLatin1Char('.'))) {
        const QString cleaned = winpath::cleanPath(path);
        return cleaned != path && nameIsEightHexDigits(cleaned);
    }
    if (length != 8 || (start > 0 && !isSeparator(path.at(start - 1)))) return false;
    for (int i = start; i < size; ++i) {
        if (!isHexDigit(path.at(i))) return false;
    }
    return true;
}

// Inside an online-only folder a new item stays online-only; elsewhere it follows its parent. A
// folder the running batch found pinned is not read again.
bool parentIsOnlineOnly(const QString& folder) {
    if (PinnedFolderMemo::known(folder)) return false;
    PlaceholderInfo parent = CfApiWrapper::findPlaceholderInfo(folder);
    if (parent && parent->PinState == CF_PIN_STATE_PINNED) PinnedFolderMemo::remember(folder);
    return parent && parent->PinState == CF_PIN_STATE_UNPINNED;
}

HANDLE openForAttributes(const QString& longPath, DWORD access, DWORD flags) {
    return CreateFileW(wide(longPath).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace

bool CfApiWrapper::isTransientFile(const QString& path, int type) {
    // Editors save through temporary files named with eight hex digits; they never reach the cloud.
    if (!nameIsEightHexDigits(path)) return false;
    if (type == PlaceholderItemInfo::kFolderType) return false;
    if (type < 0) {
        DWORD attributes = GetFileAttributesW(wide(toLongPath(path)).c_str());
        return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return true;
}

QString CfApiWrapper::toLongPath(const QString& path) {
    if (path.isEmpty()) return path;
    QString native = winpath::toNativeSeparators(path);
    if (native.startsWith("\\\\")) return native;
    if (native.startsWith('\\')) return "\\\\?" + native;
    return "\\\\?\\" + native;
}

ScopedHandle CfApiWrapper::handleForPath(const QString& path) {
    if (path.isEmpty()) {
        LOG_INFO << "handleForPath path is empty, path:" << path;
        return {};
    }
    if (isTransientFile(path, -1)) return {};
    return handleForPath(path, CXFileInfo(path));
}

ScopedHandle CfApiWrapper::handleForPath(const QString& path, const CXFileInfo& info) {
    if (!info.exists()) {
        LOG_INFO << "handleForPath path not exists, path:" << path;
        return {};
    }
    return openExisting(path, info.isDir() && !info.isSymLink());
}

ScopedHandle CfApiWrapper::openExisting(const QString& path, bool isFolder) {
    QString longPath = toLongPath(path);
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (isFolder) {
        handle = openForAttributes(longPath, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    } else {
        handle = openForAttributes(longPath, FILE_READ_ATTRIBUTES, FILE_ATTRIBUTE_NORMAL);
        // A file opened for writing elsewhere without sharing may still be opened for no access at all.
        if (handle == INVALID_HANDLE_VALUE) handle = openForAttributes(longPath, 0, FILE_ATTRIBUTE_NORMAL);
    }
    if (handle != INVALID_HANDLE_VALUE) return ScopedHandle(handle);
    DWORD error = GetLastError();
    LOG_INFO << "Could not CreateFile for longpath:" << longPath << "with error:" << static_cast<unsigned long>(error);
    LOG_INFO << "handleForPath fail,path:" << path << ", with error:" << static_cast<unsigned long>(error);
    return {};
}

PlaceholderInfo CfApiWrapper::findPlaceholderInfo(const QString& path, KnownItemState* known) {
    if (path.isEmpty() || isTransientFile(path, -1)) return {};
    return findPlaceholderInfo(path, CXFileInfo(path), known);
}

PlaceholderInfo CfApiWrapper::findPlaceholderInfo(const QString& path, const CXFileInfo& local, KnownItemState* known) {
    if (path.isEmpty() || isTransientFile(path, -1)) return {};
    ScopedHandle handle = handleForPath(path, local);
    if (!handle) {
        LOG_INFO << "handleForPath invalid handle, path:" << path;
        return {};
    }
    PlaceholderInfo info = basicPlaceholderInfo(handle.get(), path);
    if (known) {
        known->exists = true;
        known->isFolder = local.isDir() && !local.isSymLink();
        known->isPlaceholder = static_cast<bool>(info);
        known->pin = info ? std::optional(info->PinState) : std::nullopt;
        // It was read whole: an identity that does not fit fails the read.
        known->info = info.copy();
        known->handle = std::move(handle);
    }
    return info;
}

PlaceholderInfo CfApiWrapper::basicPlaceholderInfo(HANDLE handle, const QString& path) {
    auto buffer = std::make_unique<BYTE[]>(kBasicInfoSize);
    DWORD returned = 0;
    HRESULT hr = CfGetPlaceholderInfo(handle, CF_PLACEHOLDER_INFO_BASIC, buffer.get(), kBasicInfoSize, &returned);
    if (FAILED(hr)) {
        // An ordinary file answers "not a cloud file"; that is the normal case, not worth a line.
        if (hr != kNotACloudFile) LOG_INFO << "CfGetPlaceholderInfo Failed, " << path << "hr : " << hex(hr);
        return {};
    }
    return PlaceholderInfo(std::move(buffer), kBasicInfoSize);
}

int CfApiWrapper::createPlaceholderInfo(const QString& path, bool isFolder, const PlaceholderItemInfo& item,
                                        qint64 size, const QByteArray& identityUtf8, KnownItemState* known) {
    if (isTransientFile(path, isFolder ? PlaceholderItemInfo::kFolderType : 1)) return 0;

    QString cleaned = winpath::cleanPath(path);
    int cut = cleaned.lastIndexOf('/');
    QString baseFolder = cut < 0 ? QString() : winpath::toNativeSeparators(cut == 0 ? "/" : cleaned.left(cut));
    QString fileName = cleaned.mid(cut + 1);
    LOG_INFO << ", localBasePath = " << baseFolder << ", relativePath = " << fileName;

    auto identity = identityBlob(identityUtf8);
    std::wstring relativeName = wide(fileName);
    CF_PLACEHOLDER_CREATE_INFO record{};
    record.RelativeFileName = relativeName.c_str();
    record.FsMetadata = metadataFor(item.creationTime, item.modificationTime, item.accessTime);
    record.FsMetadata.BasicInfo.FileAttributes = isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    record.FsMetadata.FileSize.QuadPart = isFolder ? 0 : size;
    record.FileIdentity = identity.data();
    record.FileIdentityLength = identityBlobLength(identity);
    // The client pushes whole trees, so a folder never asks the provider for its entries.
    record.Flags =
        isFolder ? CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC | CF_PLACEHOLDER_CREATE_FLAG_DISABLE_ON_DEMAND_POPULATION
                 : CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC;

    if (baseFolder.isEmpty()) {
        qWarning() << "localBasePath is empty";
        return 1;
    }
    HRESULT hr = CfCreatePlaceholders(wide(baseFolder).c_str(), &record, 1, CF_CREATE_FLAG_NONE, nullptr);
    if (FAILED(hr)) {
        LOG_INFO << "Couldn't create placeholder info for" << path << " hr : " << hex(hr);
        return 1;
    }

    KnownItemState created;
    created.exists = true;
    created.isFolder = isFolder;
    created.isPlaceholder = true;
    const bool pinned = setPinState(path, parentIsOnlineOnly(baseFolder) ? PinState::OnlineOnly : PinState::Inherit,
                                    PinRecursionNone, &created);
    if (known) *known = std::move(created);
    if (!pinned) {
        qWarning() << "Couldn't set the default inherit pin state";
        return 1;
    }
    return 0;
}

HRESULT CfApiWrapper::convertToPlaceholderRaw(const QString& path, const void* identity, DWORD identityLength) {
    ScopedHandle handle = handleForPath(path);
    if (!handle) {
        LOG_WARN << "handleForPath invalid handle, path:" << path;
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    }
    return CfConvertToPlaceholder(handle.get(), identity, identityLength, CF_CONVERT_FLAG_MARK_IN_SYNC, nullptr,
                                  nullptr);
}

int CfApiWrapper::applyPinAfterConvert(const QString& path, const QByteArray& identityUtf8,
                                       const QString& pinSourcePath) {
    // "-1" marks an item that exists only here: it is never synced.
    if (identityUtf8 == "-1") return setPathExcludedState(path);
    PinState state = PinState::Inherit;
    if (!pinSourcePath.isEmpty()) {
        PlaceholderInfo source = findPlaceholderInfo(pinSourcePath);
        if (source) state = fromCfPinState(source->PinState);
    }
    return setPinState(path, state, PinRecursionNone) ? 0 : 1;
}

int CfApiWrapper::convertToPlaceholder(const QString& path, const PlaceholderItemInfo& item, qint64 size,
                                       const QByteArray& identityUtf8, const QString& pinSourcePath,
                                       bool* outUpdateLsid) {
    if (outUpdateLsid) *outUpdateLsid = false;
    if (isTransientFile(path, item.type)) return 0;
    if (path.isEmpty()) return 1;

    auto identity = identityBlob(identityUtf8);
    HRESULT hr = convertToPlaceholderRaw(path, identity.data(), identityBlobLength(identity));
    if (SUCCEEDED(hr)) return applyPinAfterConvert(path, identityUtf8, pinSourcePath);

    LOG_INFO << " CfConvertToPlaceholder failed, path =" << path << ", result = " << hex(hr);
    if (hr == kIncompatibleHardLinks) {
        // Hard-linked files need a copy that breaks the link before the filter accepts them.
        HardLinkRepairTask task;
        task.path = winpath::cleanNativePath(path);
        task.item = item;
        task.size = size > 0 ? size : CXFileInfo(path).size();
        task.identity = identityUtf8;
        task.pinSourcePath = pinSourcePath;
        task.tempPath = winpath::cleanNativePath(repairTempPath(path));
        enqueueHardLinkRepair(task);
    }
    LOG_INFO << " Couldn't convert to placeholder" << path << "hr : " << hex(hr);
    return 1;
}

int CfApiWrapper::convertToPlaceholderEx(const QString& path, const PlaceholderItemInfo& item, qint64 size,
                                         const QByteArray& identityUtf8, const QString& pinSourcePath,
                                         bool* outUpdateLsid, bool preserveNativeFileTime) {
    if (isTransientFile(path, item.type)) {
        if (outUpdateLsid) *outUpdateLsid = false;
        return 0;
    }
    if (!findPlaceholderInfo(path)) convertToPlaceholder(path, item, size, identityUtf8, pinSourcePath, outUpdateLsid);
    return updatePlaceholderInfo(path, item, size, identityUtf8, pinSourcePath, preserveNativeFileTime);
}

QString CfApiWrapper::repairTempPath(const QString& path) {
    QString cleaned = winpath::cleanPath(path);
    int cut = cleaned.lastIndexOf('/');
    return cleaned.left(cut) + "/." + cleaned.mid(cut + 1) + ".hardlink_repair.tmp";
}

bool CfApiWrapper::replaceFileWith(const QString& source, const QString& destination, QString* errorText) {
    if (isTransientFile(source, -1) || isTransientFile(destination, -1)) return true;
    std::wstring longDestination = wide(toLongPath(destination));
    DWORD attributes = GetFileAttributesW(longDestination.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(longDestination.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (MoveFileExW(wide(toLongPath(source)).c_str(), longDestination.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    QString text = windowsErrorText(static_cast<HRESULT>(GetLastError()));
    if (errorText) *errorText = text;
    qWarning() << "Renaming temp file to final failed: " << text;
    return false;
}
