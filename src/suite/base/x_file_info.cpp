#include "suite/base/x_file_info.h"

#include <string>

#include "platform/windows.h"
#include "suite/base/winpath.h"

namespace {

// FILETIME counts 100-nanosecond steps since 1601-01-01 UTC.
constexpr qint64 kFileTimeTicksPerMSec = 10000;
constexpr qint64 kMSecsFrom1601To1970 = 11644473600000LL;

qint64 ticksOf(const FILETIME& time) { return (static_cast<qint64>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

constexpr DWORD kCloudOnlyAttributes = FILE_ATTRIBUTE_PINNED | FILE_ATTRIBUTE_UNPINNED |
                                       FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS | FILE_ATTRIBUTE_RECALL_ON_OPEN;

// The reparse tag of a reparse point, as a directory listing reports it.
DWORD reparseTagOf(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    FindClose(find);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
}

}  // namespace

CXFileInfo::CXFileInfo(const QString& path) : path_(path) {
    const std::wstring windowsPath = winpath::toNativeSeparators(path).toStdWString();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.isEmpty() || !GetFileAttributesExW(windowsPath.c_str(), GetFileExInfoStandard, &data)) return;
    exists_ = true;
    isDir_ = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    isHidden_ = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    // Pin and recall attributes belong to cloud placeholders alone: such a reparse point is no link.
    isReparsePoint_ =
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !(data.dwFileAttributes & kCloudOnlyAttributes);
    size_ = isDir_ ? 0 : static_cast<qint64>((static_cast<quint64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    created_ = ticksOf(data.ftCreationTime);
    lastModified_ = ticksOf(data.ftLastWriteTime);
    lastRead_ = ticksOf(data.ftLastAccessTime);
}

bool CXFileInfo::isSymLink() const {
    return isReparsePoint_ && reparseTagOf(winpath::toNativeSeparators(path_).toStdWString()) == IO_REPARSE_TAG_SYMLINK;
}

QDateTime CXFileInfo::fromFileTime(qint64 ticks) {
    if (ticks == 0) return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(ticks / kFileTimeTicksPerMSec - kMSecsFrom1601To1970);
}
