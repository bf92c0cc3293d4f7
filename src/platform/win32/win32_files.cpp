// Opening files and moving their data: CreateFileW and the calls on its handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/descriptor_paths.h"
#include "platform/fault_injection.h"
#include "platform/file_filter_hooks.h"
#include "platform/platform_paths.h"
#include "platform/win32_file_support.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "win32_errno.h"
#include "win32_share_modes.h"

using nimbrel::platform::FileObject;

namespace {

constexpr DWORD kCreationAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

bool validDisposition(DWORD disposition) { return disposition >= CREATE_NEW && disposition <= TRUNCATE_EXISTING; }

int openFlagsFor(DWORD access, bool folder) {
    if (folder) return O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    bool read = nimbrel::platform::hasReadAccess(access);
    bool write = nimbrel::platform::hasWriteAccess(access);
    int flags = O_CLOEXEC;
    if (read && write) {
        flags |= O_RDWR;
    } else if (write) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    // Append-only access moves every write to the end, as FILE_APPEND_DATA alone does.
    if ((access & FILE_APPEND_DATA) && !(access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL))) flags |= O_APPEND;
    return flags;
}

struct Opened {
    int fd = -1;
    bool plain = false;  // see FileObject::openedPlainly
    bool pathOnly = false;
};

// Metadata-only handles (no data access) must open even files the caller may not read.
Opened openExisting(const std::string& path, int flags, DWORD access) {
    namespace p = nimbrel::platform;
    Opened opened;
    // A handle for reading attributes only must not break a Cloud Files oplock (a lease on Linux,
    // which every open for data breaks): Windows breaks one only for data or delete access.
    if (!(flags & O_DIRECTORY) && !p::hasDataAccess(access) && !p::hasAttributeWriteAccess(access) &&
        !(access & (DELETE | WRITE_DAC | WRITE_OWNER))) {
        opened.fd = p::openPathPlainly(path, O_PATH | O_CLOEXEC, opened.plain);
        opened.pathOnly = true;
        return opened;
    }
    opened.fd = p::openPathPlainly(path, flags, opened.plain);
    if (opened.fd < 0 && errno == EACCES && !p::hasReadAccess(access) && !p::hasWriteAccess(access)) {
        opened.fd = p::openPathPlainly(path, O_PATH | O_CLOEXEC, opened.plain);
        opened.pathOnly = true;
    }
    return opened;
}

// An open made before the checks of CreateFileW, which closes its descriptor unless the handle
// takes it.
struct EarlyOpen {
    Opened opened;
    struct stat st {};
    EarlyOpen() = default;
    EarlyOpen(const EarlyOpen&) = delete;
    EarlyOpen& operator=(const EarlyOpen&) = delete;
    ~EarlyOpen() {
        if (opened.fd >= 0) ::close(opened.fd);
    }
    // Opens the item only for its path and examines it through the descriptor: one look up the
    // path, and the handle knows the very file it holds. False with errno when nothing is there.
    bool examine(const std::string& path) {
        opened.fd = nimbrel::platform::openPathPlainly(path, O_PATH | O_CLOEXEC, opened.plain);
        opened.pathOnly = true;
        return opened.fd >= 0 && ::fstat(opened.fd, &st) == 0;
    }
    Opened take() {
        Opened taken = opened;
        opened.fd = -1;
        return taken;
    }
};

HANDLE fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

extern "C" HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                              DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    namespace p = nimbrel::platform;
    if (!fileName || !validDisposition(creationDisposition)) return fail(ERROR_INVALID_PARAMETER);
    if (creationDisposition == TRUNCATE_EXISTING && !p::hasWriteAccess(desiredAccess)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::string path = p::toHostPath(std::wstring(fileName));
    if (path.empty()) return fail(ERROR_PATH_NOT_FOUND);

    // An open that can change nothing may take the file functions' own way to the file.
    const bool inspectOnly = creationDisposition == OPEN_EXISTING && !p::hasWriteAccess(desiredAccess) &&
                             !p::hasAttributeWriteAccess(desiredAccess) &&
                             !(desiredAccess & (DELETE | WRITE_DAC | WRITE_OWNER));
    const std::string access = inspectOnly ? p::accessPathFor(path) : path;
    // A file opened for its metadata alone is opened first and examined through its descriptor
    // (without backup semantics it cannot be a folder, which opens otherwise).
    EarlyOpen early;
    const bool openFirst =
        inspectOnly && !p::hasDataAccess(desiredAccess) && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS);
    struct stat& st = early.st;
    bool exists = openFirst ? early.examine(access) : p::statPath(access, st) == 0;
    if (!exists && errno != ENOENT) return fail(p::setLastErrorForPath(errno, path));
    bool folder = exists && S_ISDIR(st.st_mode);
    if (folder) {
        // Folders open only with backup semantics and only as they are.
        if (!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) return fail(ERROR_ACCESS_DENIED);
        if (creationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
        if (creationDisposition != OPEN_EXISTING && creationDisposition != OPEN_ALWAYS) {
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    if (exists && !folder && p::hasWriteAccess(desiredAccess) && p::isReadOnlyFile(st))
        return fail(ERROR_ACCESS_DENIED);
    if (exists && creationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
    if (!exists && (creationDisposition == OPEN_EXISTING || creationDisposition == TRUNCATE_EXISTING)) {
        return fail(p::setLastErrorForPath(ENOENT, path));
    }

    int flags = openFlagsFor(desiredAccess, folder);
    if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
    int fd = -1;
    bool created = false;
    Opened opened;
    if (exists) {
        if (!folder && (creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING)) {
            flags |= O_TRUNC;
        }
        // Data opens that may write go through the filter as an application's do; it lets the
        // provider's own through. Reading takes the file functions' way: the provider's reads
        // through the mount would share the kernel's pages with a reader whose read waits for
        // this very provider.
        opened = openFirst ? early.take()
                           : openExisting(folder || inspectOnly || !p::hasDataAccess(desiredAccess) ? access : path,
                                          flags, desiredAccess);
        fd = opened.fd;
    } else {
        mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
        // Another process may have created it since the check; OPEN_ALWAYS and CREATE_ALWAYS take it then.
        if (fd < 0 && errno == EEXIST && creationDisposition != CREATE_NEW) {
            fd = ::open(path.c_str(), flags | (creationDisposition == CREATE_ALWAYS ? O_TRUNC : 0));
            exists = fd >= 0;
        } else if (fd < 0 && errno == EEXIST) {
            return fail(ERROR_FILE_EXISTS);
        }
        created = fd >= 0 && !exists;
    }
    if (fd < 0) return fail(p::setLastErrorForPath(errno, path));

    DWORD extraAttributes = flagsAndAttributes & kCreationAttributes & ~FILE_ATTRIBUTE_READONLY;
    if ((created || creationDisposition == CREATE_ALWAYS) && extraAttributes != 0 && !folder) {
        p::applyAttributes(path, flagsAndAttributes & kCreationAttributes);
    }

    // Opening a cloud placeholder for its data tells the provider, as the Cloud Files filter does;
    // opens for attributes or for the reparse point itself stay between the caller and the disk.
    if (exists && !folder && p::hasDataAccess(desiredAccess) && !(flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT)) {
        p::applicationOpenedHandle(fd);
    }

    if (!folder && !(shareMode & FILE_SHARE_DELETE)) p::refuseDeleteSharing(fd);

    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->path = path;
    file->desiredAccess = desiredAccess;
    file->shareMode = shareMode;
    file->flagsAndAttributes = flagsAndAttributes;
    file->isDirectory = folder;
    file->openedPlainly = opened.plain;
    file->pathOnly = opened.pathOnly;
    if (openFirst) {
        file->device = st.st_dev;
        file->inode = st.st_ino;
    }
    HANDLE handle = p::registerHandle(std::move(file));
    // CREATE_ALWAYS and OPEN_ALWAYS tell the caller that the file was already there.
    bool reportExisting = exists && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
    namespace p = nimbrel::platform;
    if (bytesRead) *bytesRead = 0;
    auto object = p::fileForHandle(file);
    if (!object) return FALSE;
    if (object->isDirectory) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!p::hasReadAccess(object->desiredAccess)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A cloud placeholder gets its data from the provider first; when it cannot, nothing is read.
    if (DWORD error = p::applicationReadHandle(object->fd); error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    // With an OVERLAPPED on a synchronous handle the read happens at its offset and completes at once.
    off_t offset =
        overlapped
            ? static_cast<off_t>((static_cast<ULONGLONG>(overlapped->u.s.OffsetHigh) << 32) | overlapped->u.s.Offset)
            : -1;
    DWORD total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < bytesToRead) {
        ssize_t n = offset >= 0 ? ::pread(object->fd, out + total, bytesToRead - total, offset + total)
                                : ::read(object->fd, out + total, bytesToRead - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            p::setLastErrorFromErrno(errno);
            return FALSE;
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (bytesRead) *bytesRead = total;
    if (overlapped) overlapped->InternalHigh = total;
    // An overlapped read that starts at or past the end reports ERROR_HANDLE_EOF.
    if (overlapped && total == 0 && bytesToRead > 0) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                          LPOVERLAPPED overlapped) {
    namespace p = nimbrel::platform;
    if (bytesWritten) *bytesWritten = 0;
    auto object = p::fileForHandle(file);
    if (!object) return FALSE;
    if (object->isDirectory || !p::hasWriteAccess(object->desiredAccess)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Tests fill the disk by rule: every write then fails as on a full volume.
    if (auto fault = p::faults::check("DiskFull", object->path); fault && bytesToWrite > 0) {
        SetLastError(HRESULT_CODE(*fault));
        return FALSE;
    }
    off_t offset =
        overlapped
            ? static_cast<off_t>((static_cast<ULONGLONG>(overlapped->u.s.OffsetHigh) << 32) | overlapped->u.s.Offset)
            : -1;
    DWORD total = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (total < bytesToWrite) {
        ssize_t n = offset >= 0 ? ::pwrite(object->fd, in + total, bytesToWrite - total, offset + total)
                                : ::write(object->fd, in + total, bytesToWrite - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (bytesWritten) *bytesWritten = total;
            p::setLastErrorFromErrno(errno);
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = total;
    if (overlapped) overlapped->InternalHigh = total;
    return TRUE;
}

extern "C" BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize) {
    auto object = nimbrel::platform::fileForHandle(file);
    if (!object) return FALSE;
    struct stat st {};
    if (::fstat(object->fd, &st) != 0) {
        nimbrel::platform::setLastErrorFromErrno(errno);
        return FALSE;
    }
    fileSize->QuadPart = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    return TRUE;
}
