// Attributes, times and the information classes of files, by name and by handle.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_filter_hooks.h"
#include "platform/platform_paths.h"
#include "platform/win32_file_support.h"
#include "platform/win32_filetime.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "win32_errno.h"

namespace {

namespace p = nimbrel::platform;

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD sizeHigh(const p::FileFacts& facts) {
    return S_ISDIR(facts.st.st_mode) ? 0 : static_cast<DWORD>(static_cast<ULONGLONG>(facts.st.st_size) >> 32);
}
DWORD sizeLow(const p::FileFacts& facts) {
    return S_ISDIR(facts.st.st_mode) ? 0 : static_cast<DWORD>(static_cast<ULONGLONG>(facts.st.st_size) & 0xFFFFFFFFu);
}

bool factsForHandle(HANDLE file, std::shared_ptr<p::FileObject>& object, p::FileFacts& facts) {
    object = p::fileForHandle(file);
    return object && p::describeFile(*object, facts);
}

// SetFileTime leaves a time alone when it is not given (0), and also for -1 (which on
// Windows stops the system from updating it through this handle).
bool keepsTime(LONGLONG value) { return value == 0 || value == -1; }

bool setTimes(const p::FileObject& object, LONGLONG creation, LONGLONG access, LONGLONG write) {
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (!keepsTime(access)) times[0] = p::timespecFromFileTime(access);
    if (!keepsTime(write)) times[1] = p::timespecFromFileTime(write);
    if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT) {
        int rc = ::futimens(object.fd, times);
        if (rc != 0 && errno == EBADF) rc = ::utimensat(AT_FDCWD, object.path.c_str(), times, 0);
        if (rc != 0) {
            p::setLastErrorFromErrno(errno);
            return false;
        }
    }
    return keepsTime(creation) || p::storeCreationTime(object.path, object.fd, creation);
}

}  // namespace

extern "C" BOOL GetFileTime(HANDLE file, LPFILETIME creationTime, LPFILETIME lastAccessTime, LPFILETIME lastWriteTime) {
    std::shared_ptr<p::FileObject> object;
    p::FileFacts facts;
    if (!factsForHandle(file, object, facts)) return FALSE;
    if (creationTime) *creationTime = p::toFileTime(facts.creationTime);
    if (lastAccessTime) *lastAccessTime = p::toFileTime(facts.lastAccessTime);
    if (lastWriteTime) *lastWriteTime = p::toFileTime(facts.lastWriteTime);
    return TRUE;
}

extern "C" BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                            const FILETIME* lastWriteTime) {
    auto object = p::fileForHandle(file);
    if (!object) return FALSE;
    if (!p::hasAttributeWriteAccess(object->desiredAccess)) return fail(ERROR_ACCESS_DENIED);
    auto value = [](const FILETIME* time) { return time ? p::fileTimeValue(*time) : 0; };
    return setTimes(*object, value(creationTime), value(lastAccessTime), value(lastWriteTime)) ? TRUE : FALSE;
}

extern "C" BOOL SetFileAttributesW(LPCWSTR fileName, DWORD fileAttributes) {
    if (!fileName) return fail(ERROR_INVALID_PARAMETER);
    return p::applyAttributes(p::toHostPath(std::wstring(fileName)), fileAttributes) ? TRUE : FALSE;
}

extern "C" DWORD GetFileAttributesW(LPCWSTR fileName) {
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    p::FileFacts facts;
    if (!p::describeFile(p::toHostPath(std::wstring(fileName)), -1, facts)) return INVALID_FILE_ATTRIBUTES;
    return facts.attributes;
}

extern "C" BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS infoLevelId, LPVOID fileInformation) {
    if (!fileName || !fileInformation || infoLevelId != GetFileExInfoStandard) return fail(ERROR_INVALID_PARAMETER);
    p::FileFacts facts;
    if (!p::describeFile(p::toHostPath(std::wstring(fileName)), -1, facts)) return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(fileInformation);
    data->dwFileAttributes = facts.attributes;
    data->ftCreationTime = p::toFileTime(facts.creationTime);
    data->ftLastAccessTime = p::toFileTime(facts.lastAccessTime);
    data->ftLastWriteTime = p::toFileTime(facts.lastWriteTime);
    data->nFileSizeHigh = sizeHigh(facts);
    data->nFileSizeLow = sizeLow(facts);
    return TRUE;
}

extern "C" BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION fileInformation) {
    std::shared_ptr<p::FileObject> object;
    p::FileFacts facts;
    if (!factsForHandle(file, object, facts)) return FALSE;
    fileInformation->dwFileAttributes = facts.attributes;
    fileInformation->ftCreationTime = p::toFileTime(facts.creationTime);
    fileInformation->ftLastAccessTime = p::toFileTime(facts.lastAccessTime);
    fileInformation->ftLastWriteTime = p::toFileTime(facts.lastWriteTime);
    fileInformation->dwVolumeSerialNumber = static_cast<DWORD>(facts.st.st_dev);
    fileInformation->nFileSizeHigh = sizeHigh(facts);
    fileInformation->nFileSizeLow = sizeLow(facts);
    fileInformation->nNumberOfLinks = static_cast<DWORD>(facts.st.st_nlink);
    auto index = static_cast<ULONGLONG>(facts.st.st_ino);
    fileInformation->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    fileInformation->nFileIndexLow = static_cast<DWORD>(index & 0xFFFFFFFFu);
    return TRUE;
}

extern "C" BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS fileInformationClass,
                                             LPVOID fileInformation, DWORD bufferSize) {
    std::size_t needed = fileInformationClass == FileBasicInfo          ? sizeof(FILE_BASIC_INFO)
                         : fileInformationClass == FileStandardInfo     ? sizeof(FILE_STANDARD_INFO)
                         : fileInformationClass == FileAttributeTagInfo ? sizeof(FILE_ATTRIBUTE_TAG_INFO)
                                                                        : 0;
    if (needed == 0 || !fileInformation) return fail(ERROR_INVALID_PARAMETER);
    if (bufferSize < needed) return fail(ERROR_BAD_LENGTH);
    std::shared_ptr<p::FileObject> object;
    p::FileFacts facts;
    if (!factsForHandle(file, object, facts)) return FALSE;
    switch (fileInformationClass) {
        case FileBasicInfo: {
            auto* info = static_cast<FILE_BASIC_INFO*>(fileInformation);
            info->CreationTime.QuadPart = facts.creationTime;
            info->LastAccessTime.QuadPart = facts.lastAccessTime;
            info->LastWriteTime.QuadPart = facts.lastWriteTime;
            info->ChangeTime.QuadPart = facts.changeTime;
            info->FileAttributes = facts.attributes;
            break;
        }
        case FileStandardInfo: {
            auto* info = static_cast<FILE_STANDARD_INFO*>(fileInformation);
            bool folder = S_ISDIR(facts.st.st_mode);
            // Mapping the file's extents takes three calls of its own, so only this class asks.
            info->AllocationSize.QuadPart =
                folder ? 0 : p::dataAllocationBytes(p::accessPathFor(object->path), object->fd, facts.st);
            info->EndOfFile.QuadPart = folder ? 0 : facts.st.st_size;
            info->NumberOfLinks = static_cast<DWORD>(facts.st.st_nlink);
            // A file unlinked while open is what Windows calls delete-pending.
            info->DeletePending = facts.st.st_nlink == 0 ? TRUE : FALSE;
            info->Directory = folder ? TRUE : FALSE;
            break;
        }
        default: {
            auto* info = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(fileInformation);
            info->FileAttributes = facts.attributes;
            info->ReparseTag = facts.reparseTag;
            break;
        }
    }
    return TRUE;
}
