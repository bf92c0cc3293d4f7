// Placeholder updates, pin and in-sync state, and the availability summary of the context menu.
#include <QDebug>
#include <QtGlobal>
#include <mutex>
#include <optional>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "cfapi/file_time.h"
#include "cfapi/pinned_folder_memo.h"
#include "suite/base/winpath.h"
#include "suite/base/x_file_info.h"
#include "suite/logbridge/spdlog_bridge.h"

using namespace cfapi_support;

namespace {

// Room for the largest identity the platform allows (4096 bytes) after the fixed part.
constexpr DWORD kFullInfoSize = 4128;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNotLocalMask =
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_RECALL_ON_OPEN | FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS;
constexpr int kAvailabilityScanLimit = 100;
constexpr int kOnlineOnlyWalkLimit = 16;

// Serialises every metadata update and the pin restore that follows it.
std::mutex updateMutex;

CF_SET_PIN_FLAGS pinFlags(PinRecursion recursion) {
    switch (recursion) {
        case PinRecursionRecurse:
            return CF_SET_PIN_FLAG_RECURSE;
        case PinRecursionRecurseOnly:
            return CF_SET_PIN_FLAG_RECURSE_ONLY;
        case PinRecursionNone:
            break;
    }
    return CF_SET_PIN_FLAG_NONE;
}

// The folder above a native path, or empty at the top.
QString parentFolder(const QString& nativePath) {
    int cut = nativePath.lastIndexOf('\\');
    return cut > 0 ? nativePath.left(cut) : QString();
}

// A file that has a size but no blocks on the disk carries no data yet.
bool hasNoLocalData(const QString& longPath) {
    HANDLE file = CreateFileW(wide(longPath).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ScopedHandle handle(file);
    LARGE_INTEGER size{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileSizeEx(handle.get(), &size)) return false;
    if (!GetFileInformationByHandleEx(handle.get(), FileStandardInfo, &standard, sizeof(standard))) return false;
    return size.QuadPart > 0 && standard.AllocationSize.QuadPart == 0;
}

struct ScanFacts {
    bool local = false;
    bool online = false;
    int visited = 0;
};

struct ScanItem {
    QString path;  // native separators
    DWORD attributes = 0;
    qint64 size = 0;
};

qint64 sizeOf(DWORD high, DWORD low) { return static_cast<qint64>((static_cast<quint64>(high) << 32) | low); }

PinState pinOf(const QString& path) {
    PlaceholderInfo info = CfApiWrapper::findPlaceholderInfo(path);
    return info ? fromCfPinState(info->PinState) : PinState::Unspecified;
}

bool isPlaceholder(const ScanItem& item) { return item.attributes & FILE_ATTRIBUTE_REPARSE_POINT; }

// Whether an empty file counts as online: a placeholder that is not on the device, or that
// resolves to online-only through its pin states.
bool emptyFileIsOnline(const ScanItem& item, PinState parentPin) {
    if (!isPlaceholder(item)) return false;
    if (item.attributes & kNotLocalMask) return true;
    return CfApiWrapper::resolvesToOnlineOnly(item.path, pinOf(item.path), parentPin);
}

void scan(const ScanItem& item, PinState parentPin, bool stopEarly, ScanFacts& facts);

void scanFolder(const ScanItem& folder, PinState parentPin, bool stopEarly, ScanFacts& facts) {
    bool localBefore = facts.local;
    bool onlineBefore = facts.online;
    facts.local = facts.online = false;
    PinState folderPin = pinOf(folder.path);

    WIN32_FIND_DATAW entry{};
    std::wstring pattern = wide(CfApiWrapper::toLongPath(folder.path + "\\*"));
    HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            QString name = QString::fromWCharArray(entry.cFileName);
            if (name == "." || name == "..") continue;
            if (facts.visited >= kAvailabilityScanLimit) break;
            if (stopEarly && (facts.local || localBefore) && (facts.online || onlineBefore)) break;
            ScanItem child{folder.path + "\\" + name, entry.dwFileAttributes,
                           sizeOf(entry.nFileSizeHigh, entry.nFileSizeLow)};
            scan(child, folderPin, stopEarly, facts);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }

    if (!facts.local && !facts.online) {
        bool online = isPlaceholder(folder) && CfApiWrapper::resolvesToOnlineOnly(folder.path, folderPin, parentPin);
        (online ? facts.online : facts.local) = true;
    }
    facts.local = facts.local || localBefore;
    facts.online = facts.online || onlineBefore;
}

void scan(const ScanItem& item, PinState parentPin, bool stopEarly, ScanFacts& facts) {
    if (facts.visited >= kAvailabilityScanLimit) return;
    ++facts.visited;
    if (item.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        scanFolder(item, parentPin, stopEarly, facts);
    } else if (item.size > 0) {
        (item.attributes & FILE_ATTRIBUTE_SPARSE_FILE ? facts.online : facts.local) = true;
    } else {
        (emptyFileIsOnline(item, parentPin) ? facts.online : facts.local) = true;
    }
}

}  // namespace

PlaceholderInfo CfApiWrapper::fullPlaceholderInfo(HANDLE handle) {
    auto buffer = std::make_unique<BYTE[]>(kFullInfoSize);
    DWORD returned = 0;
    if (FAILED(CfGetPlaceholderInfo(handle, CF_PLACEHOLDER_INFO_BASIC, buffer.get(), kFullInfoSize, &returned)))
        return {};
    return PlaceholderInfo(std::move(buffer), kFullInfoSize);
}

bool CfApiWrapper::updateSyncState(const QString& path, CF_IN_SYNC_STATE state, CF_SET_IN_SYNC_FLAGS flags) {
    if (isTransientFile(path, -1)) return true;
    ScopedHandle handle = handleForPath(path);
    if (handle) {
        PlaceholderInfo info = fullPlaceholderInfo(handle.get());
        if (info && info->InSyncState == state) return true;
    }
    USN usn = 0;
    HRESULT hr = handle ? CfSetInSyncState(handle.get(), state, flags, &usn) : HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    if (FAILED(hr)) {
        LOG_WARN << "CfSetInSyncState failed, path:" << path << "state:" << static_cast<int>(state) << "hr:" << hex(hr)
                 << "usn:" << static_cast<long long>(usn);
        return false;
    }
    return true;
}

bool CfApiWrapper::setPinState(const QString& path, PinState pinState, PinRecursion recursion, KnownItemState* known) {
    if (isTransientFile(path, -1)) return true;
    CF_PIN_STATE cfPin = toCfPinState(pinState);
    // Pinning a file whose data is not on the disk would start a full download by itself.
    if (cfPin == CF_PIN_STATE_PINNED && hasNoLocalData(toLongPath(path))) cfPin = CF_PIN_STATE_UNPINNED;
    // Folders always stay pinned; what was asked for reaches their contents through the recursion.
    std::optional<CXFileInfo> local;
    if (!known) local.emplace(path);
    const bool isFolder = known ? known->isFolder : local->isDir();
    if (isFolder) cfPin = CF_PIN_STATE_PINNED;

    // Only a change of the item alone may be skipped, when its pin state already is the one asked for.
    const bool skippable = recursion == PinRecursionNone && cfPin != CF_PIN_STATE_INHERIT;
    HRESULT hr = S_OK;
    if (!(skippable && known && known->pin == cfPin)) {
        // The transient-name test of handleForPath was passed above; an empty path is reported there.
        ScopedHandle opened;
        if (!known) {
            opened = path.isEmpty() ? handleForPath(path) : handleForPath(path, *local);
        } else if (!known->handle) {
            known->handle = openExisting(path, isFolder);
        }
        const ScopedHandle& handle = known ? known->handle : opened;
        if (!handle) {
            LOG_WARN << "handleForPath invalid handle, path:" << path;
            return false;
        }
        bool unchanged = false;
        if (skippable && !(known && known->pin)) {
            PlaceholderInfo info = fullPlaceholderInfo(handle.get());
            unchanged = info && info->PinState == cfPin;
        }
        if (!unchanged) hr = CfSetPinState(handle.get(), cfPin, pinFlags(recursion), nullptr);
        if (known && !unchanged) known->info = {};
    }
    if (isFolder) PinnedFolderMemo::forgetAll();
    if (known) known->pin = SUCCEEDED(hr) && cfPin != CF_PIN_STATE_INHERIT ? std::optional(cfPin) : std::nullopt;

    for (const QString& folder : ancestorFolders(path, isFolder)) ensureFolderPinned(folder);

    if (FAILED(hr)) {
        LOG_INFO << "Couldn't set pin state" << static_cast<int>(pinState) << "for" << path << "with recurse mode"
                 << static_cast<int>(recursion) << ": hr" << hex(hr);
        return false;
    }
    return true;
}

bool CfApiWrapper::setSyncToLocalPinState(const QString& path, PinState pinState, PinRecursion recursion) {
    if (isTransientFile(path, -1)) return true;
    CF_PIN_STATE cfPin = toCfPinState(pinState);
    const bool isDir = CXFileInfo(path).isDir();
    if (isDir) cfPin = CF_PIN_STATE_PINNED;

    ScopedHandle handle = handleForPath(path);
    if (!handle) {
        LOG_WARN << "handleForPath invalid handle, path:" << path;
        return false;
    }
    HRESULT hr = S_OK;
    PlaceholderInfo current = findPlaceholderInfo(path);
    if (!current || fromCfPinState(current->PinState) != pinState) {
        hr = CfSetPinState(handle.get(), cfPin, pinFlags(recursion), nullptr);
    }
    handle.close();
    if (isDir) PinnedFolderMemo::forgetAll();

    for (const QString& folder : ancestorFolders(path)) ensureFolderPinned(folder);

    if (FAILED(hr)) {
        LOG_INFO << " Couldn't set pin state" << static_cast<int>(pinState) << "for" << path << "with recurse mode"
                 << static_cast<int>(recursion) << ": hr" << hex(hr);
        return false;
    }
    return true;
}

int CfApiWrapper::setPathExcludedState(const QString& path) {
    if (isTransientFile(path, -1)) return 0;
    ScopedHandle handle = handleForPath(path);
    if (!handle) {
        LOG_WARN << "handleForPath invalid handle, path:" << path;
        return 1;
    }
    HRESULT hr = CfSetPinState(handle.get(), CF_PIN_STATE_EXCLUDED, CF_SET_PIN_FLAG_RECURSE, nullptr);
    PinnedFolderMemo::forgetAll();
    if (FAILED(hr)) {
        LOG_INFO << "Couldn't set pin state" << static_cast<int>(CF_PIN_STATE_EXCLUDED) << "for" << path
                 << "with recurse mode" << static_cast<int>(CF_SET_PIN_FLAG_RECURSE) << ": hr" << hex(hr);
        return 1;
    }
    return 0;
}

QStringList CfApiWrapper::ancestorFolders(const QString& path) {
    return ancestorFolders(path, CXFileInfo(winpath::cleanNativePath(path)).isDir());
}

QStringList CfApiWrapper::ancestorFolders(const QString& path, bool isDir) {
    QString native = winpath::cleanNativePath(path);
    QString folder = isDir ? native : parentFolder(native);
    QString stop;
    {
        std::lock_guard<std::mutex> lock(registeredRootMutex);
        stop = registeredRootFolder;
    }
    // A UNC path never walks into its server-and-share part.
    int floor = 0;
    if (native.startsWith("\\\\")) {
        int server = native.indexOf('\\', 2);
        int share = server < 0 ? -1 : native.indexOf('\\', server + 1);
        floor = share < 0 ? native.size() : share;
    }
    QStringList folders;
    // A folder the running batch found pinned was there a moment ago; only the others are looked up.
    while (!folder.isEmpty() && !winpath::sameIgnoringCase(folder, stop) &&
           (PinnedFolderMemo::known(folder) || CXFileInfo(folder).exists())) {
        folders << folder;
        int cut = folder.lastIndexOf('\\');
        if (cut <= 0 || cut <= floor) break;
        folder = folder.left(cut);
    }
    return folders;
}

void CfApiWrapper::ensureFolderPinned(const QString& folder) {
    if (PinnedFolderMemo::known(folder)) return;
    PlaceholderInfo info = findPlaceholderInfo(folder);
    if (info && info->PinState == CF_PIN_STATE_PINNED) {
        PinnedFolderMemo::remember(folder);
        return;
    }
    // A folder that is no reparse point is no placeholder, which neither call below could change.
    if (!info && !(GetFileAttributesW(wide(toLongPath(folder)).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    HANDLE opened = CreateFileW(wide(toLongPath(folder)).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return;
    ScopedHandle handle(opened);
    CXFileInfo local(folder);
    CF_FS_METADATA metadata{};
    if (local.isDir()) {
        metadata.BasicInfo.FileAttributes = FILE_ATTRIBUTE_DIRECTORY | (local.isHidden() ? FILE_ATTRIBUTE_HIDDEN : 0);
    } else {
        metadata.BasicInfo.FileAttributes = local.isHidden() ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
    }
    CfUpdatePlaceholder(handle.get(), &metadata, nullptr, 0, nullptr, 0, CF_UPDATE_FLAG_NONE, nullptr, nullptr);
    if (SUCCEEDED(CfSetPinState(handle.get(), CF_PIN_STATE_PINNED, CF_SET_PIN_FLAG_NONE, nullptr))) {
        PinnedFolderMemo::remember(folder);
    }
}

bool CfApiWrapper::timesEqual(const FILE_BASIC_INFO& basicInfo, const CF_FS_METADATA& metadata) {
    return basicInfo.CreationTime.QuadPart == metadata.BasicInfo.CreationTime.QuadPart &&
           basicInfo.LastAccessTime.QuadPart == metadata.BasicInfo.LastAccessTime.QuadPart &&
           basicInfo.LastWriteTime.QuadPart == metadata.BasicInfo.LastWriteTime.QuadPart;
}

int CfApiWrapper::updatePlaceholderInfo(const QString& path, const PlaceholderItemInfo& item, qint64 size,
                                        const QByteArray& identityUtf8, const QString& pinSourcePath,
                                        bool preserveNativeFileTime, KnownItemState* known) {
    if (isTransientFile(path, item.type)) return 0;
    if (path.isEmpty()) {
        qWarning() << "Empty path";
        return 1;
    }
    if (size < 0) {
        if (!item.isFolder()) {
            qWarning() << "Invalid file size =" << size;
            return 1;
        }
        size = CXFileInfo(path).size();
    }

    if (known && !(known->isPlaceholder && known->pin && known->handle)) known = nullptr;
    PinState savedPin = PinState::Unspecified;
    if (known && pinSourcePath.isEmpty()) {
        savedPin = fromCfPinState(*known->pin);
    } else {
        PlaceholderInfo saved = findPlaceholderInfo(pinSourcePath.isEmpty() ? path : pinSourcePath);
        if (!saved) {
            LOG_INFO << "Placeholder info not found, path =" << path;
            return 1;
        }
        savedPin = fromCfPinState(saved->PinState);
    }

    QString identityText = QString::fromUtf8(identityUtf8.constData(), identityUtf8.size());
    if (identityText.endsWith(QChar(0))) identityText.chop(1);
    if (identityText.isEmpty()) {
        qWarning() << "Empty FileIdentity";
        return 1;
    }
    if (identityText.contains(QChar(0))) {
        qWarning() << "FileIdentity contains embedded NUL";
        return 1;
    }
    std::vector<char16_t> identity(identityText.utf16(), identityText.utf16() + identityText.size());
    identity.push_back(u'\0');
    DWORD identityLength = identityBlobLength(identity);
    if (identityLength == 0 || identityLength > CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH) {
        qWarning() << "FileIdentity size invalid =" << identityLength;
        return 1;
    }
    if (identityLength % 2 != 0) {
        qWarning() << "FileIdentity size not wchar aligned";
        return 1;
    }

    CF_FS_METADATA metadata = metadataFor(item.creationTime, item.modificationTime, item.accessTime);
    metadata.FileSize.QuadPart = size;

    ScopedHandle opened = known ? ScopedHandle() : handleForPath(path);
    const ScopedHandle& handle = known ? known->handle : opened;
    if (!handle) {
        LOG_INFO << "Invalid HANDLE for path =" << path;
        return 1;
    }
    if (preserveNativeFileTime && item.isFolder()) {
        LOG_INFO << "[ziduzudu-preserve-native-time] reject directory projection, path:" << path;
        return 1;
    }

    // A file's size and times are read through its handle below, a folder's times only when needed.
    qint64 localSize = item.isFolder() ? CXFileInfo(path).size() : 0;
    FILE_BASIC_INFO basic{};
    bool basicRead = false;
    if (!item.isFolder()) {
        BY_HANDLE_FILE_INFORMATION fileInfo{};
        if (!GetFileInformationByHandle(handle.get(), &fileInfo)) {
            qWarning() << "GetFileInformationByHandle failed";
            return 1;
        }
        localSize = sizeOf(fileInfo.nFileSizeHigh, fileInfo.nFileSizeLow);
        basic.CreationTime.QuadPart = filetime::ticksFromFiletime(fileInfo.ftCreationTime);
        basic.LastAccessTime.QuadPart = filetime::ticksFromFiletime(fileInfo.ftLastAccessTime);
        basic.LastWriteTime.QuadPart = filetime::ticksFromFiletime(fileInfo.ftLastWriteTime);
        basicRead = true;
        // A locally authored file keeps its own content; a size change means it was edited here.
        if (preserveNativeFileTime && localSize != size) {
            LOG_INFO << "[ziduzudu-preserve-native-time] reject changed placeholder update"
                     << " path:" << path << " expectedSize:" << static_cast<long long>(size)
                     << " actualSize:" << static_cast<long long>(localSize);
            return 1;
        }
        if (!(fileInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            qWarning() << "Not a reparse point, refuse update";
            return 1;
        }
    }

    PlaceholderInfo current = known && known->info ? std::move(known->info) : fullPlaceholderInfo(handle.get());
    bool identityChanged = true;
    if (current && current->FileIdentityLength > 2 &&
        current->FileIdentityLength <= CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH) {
        identityChanged = current.identityText().compare(identityText, Qt::CaseInsensitive) != 0;
    }
    bool inSync = current && current->InSyncState == CF_IN_SYNC_STATE_IN_SYNC;
    bool updateNeeded = true;
    if (preserveNativeFileTime) {
        updateNeeded = identityChanged || !inSync;
    } else {
        if (!basicRead) basicRead = GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof(basic));
        updateNeeded = !(localSize == size && basicRead && timesEqual(basic, metadata) && !identityChanged && inSync);
    }
    if (!updateNeeded) return 0;

    std::lock_guard<std::mutex> lock(updateMutex);
    // Preserved files keep their own times, size and attributes: only identity and in-sync change.
    HRESULT hr = CfUpdatePlaceholder(handle.get(), preserveNativeFileTime ? nullptr : &metadata, identity.data(),
                                     identityLength, nullptr, 0, CF_UPDATE_FLAG_MARK_IN_SYNC, nullptr, nullptr);
    if (FAILED(hr)) {
        LOG_INFO << "CfUpdatePlaceholder failed, path =" << path << "hr =" << hexUpper(hr);
        return 1;
    }
    if (identityText == "-1") {
        setPathExcludedState(path);
        if (known) known->pin.reset();
    } else if (!setPinState(path, savedPin, PinRecursionNone, known)) {
        LOG_INFO << "Failed to restore pin state, path =" << path;
        return 1;
    }
    return 0;
}

Result<PinState> CfApiWrapper::getPinState(const QString& path) {
    PlaceholderInfo info = findPlaceholderInfo(path);
    if (!info) {
        LOG_INFO << "Couldn't find pin state for regular non-placeholder file" << path;
        return Result<PinState>::error(PinState::Unspecified);
    }
    return fromCfPinState(info->PinState);
}

bool CfApiWrapper::resolvesToOnlineOnly(const QString& path, PinState pin, PinState parentPin) {
    if (pin == PinState::OnlineOnly) return true;
    if (pin != PinState::Inherit) return false;
    if (parentPin == PinState::OnlineOnly) return true;
    QString folder = parentFolder(winpath::cleanNativePath(path));
    QString previous;
    for (int level = 0; level < kOnlineOnlyWalkLimit; ++level) {
        if (folder.isEmpty() || folder == previous) return false;
        PlaceholderInfo info = findPlaceholderInfo(folder);
        if (!info) return false;
        PinState state = fromCfPinState(info->PinState);
        if (state == PinState::OnlineOnly) return true;
        if (state != PinState::Inherit) return false;
        previous = folder;
        folder = parentFolder(folder);
    }
    return false;
}

int CfApiWrapper::availabilityState(const QString& path, bool stopEarly) {
    Result<PinState> pinResult = getPinState(path);
    PinState pin = pinResult.isValid() ? pinResult.get() : PinState::Unspecified;

    QString native = winpath::cleanNativePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ScanFacts facts;
    bool exists = GetFileAttributesExW(wide(toLongPath(native)).c_str(), GetFileExInfoStandard, &data);
    ScanItem item{native, data.dwFileAttributes, sizeOf(data.nFileSizeHigh, data.nFileSizeLow)};
    if (exists) {
        // An empty file has no content to measure; its placeholder state alone decides.
        if (!(item.attributes & FILE_ATTRIBUTE_DIRECTORY) && item.size == 0 &&
            emptyFileIsOnline(item, pinOf(parentFolder(native)))) {
            return 4;
        }
        scan(item, pinOf(parentFolder(native)), stopEarly, facts);
    }
    if (facts.online && !facts.local) return pin == PinState::OnlineOnly ? 4 : 3;
    if (facts.local && !facts.online) return pin == PinState::AlwaysLocal ? 0 : 1;
    if (facts.local && facts.online) return 2;
    return 5;
}
