// Operations on files and folders by name: delete, move, copy, folders, temp folder and free space.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/file_filter_hooks.h"
#include "platform/platform_paths.h"
#include "platform/win32_file_support.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "win32_errno.h"
#include "win32_share_modes.h"

namespace {

namespace p = nimbrel::platform;

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL failForPath(int error, const std::string& path) {
    p::setLastErrorForPath(error, path);
    return FALSE;
}

std::string hostPathOf(LPCWSTR windowsPath) { return windowsPath ? p::toHostPath(std::wstring(windowsPath)) : ""; }

// Copies the bytes, the mode, the modification time and the stored Windows attributes, as
// CopyFileW copies the attributes and the last-write time with the data.
bool copyContents(const std::string& from, const std::string& to, bool failIfExists) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return failForPath(errno, from);
    // Copying reads the data as an application would: a placeholder is made local first.
    p::applicationOpenedHandle(in);
    if (DWORD recall = p::applicationReadHandle(in); recall != ERROR_SUCCESS) {
        ::close(in);
        return fail(recall);
    }
    struct stat st {};
    ::fstat(in, &st);
    if (auto fault = p::faults::check("DiskFull", to)) {
        ::close(in);
        return fail(HRESULT_CODE(*fault));
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0), 0600);
    if (out < 0) {
        int error = errno;
        ::close(in);
        if (error == EEXIST) return fail(ERROR_FILE_EXISTS);
        return failForPath(error, to);
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) ok = false;
            done += w > 0 ? w : 0;
        }
        if (!ok) break;
    }
    int error = ok ? 0 : errno;
    if (ok) {
        DWORD bits = 0;
        if (::fgetxattr(in, p::kDosAttributesXattr, &bits, sizeof bits) == sizeof bits) {
            ::fsetxattr(out, p::kDosAttributesXattr, &bits, sizeof bits, 0);
        }
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
        ::fchmod(out, st.st_mode & 07777);
    }
    ::close(in);
    ::close(out);
    if (!ok) {
        ::unlink(to.c_str());
        p::setLastErrorFromErrno(error);
    }
    return ok;
}

std::string parentFolder(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void syncPath(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

extern "C" BOOL DeleteFileW(LPCWSTR fileName) {
    std::string path = hostPathOf(fileName);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return failForPath(errno, path);
    if (S_ISDIR(st.st_mode) || p::isReadOnlyFile(st)) return fail(ERROR_ACCESS_DENIED);
    if (p::deleteSharingRefused(path)) return fail(ERROR_SHARING_VIOLATION);
    if (::unlink(path.c_str()) != 0) return failForPath(errno, path);
    return TRUE;
}

extern "C" BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
    if (!existingFileName || !newFileName || (flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::string from = hostPathOf(existingFileName);
    std::string to = hostPathOf(newFileName);
    struct stat source {};
    if (::lstat(from.c_str(), &source) != 0) return failForPath(errno, from);
    struct stat target {};
    bool targetExists = ::lstat(to.c_str(), &target) == 0;
    bool sameFile = targetExists && target.st_ino == source.st_ino && target.st_dev == source.st_dev;
    if (targetExists && !sameFile) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(target.st_mode) || S_ISDIR(source.st_mode) || p::isReadOnlyFile(target)) {
            return fail(ERROR_ACCESS_DENIED);
        }
        if (p::deleteSharingRefused(to)) return fail(ERROR_SHARING_VIOLATION);
    }
    // A rename is a delete of the old name: a file held open without delete sharing stays put.
    if (!S_ISDIR(source.st_mode) && p::deleteSharingRefused(from)) return fail(ERROR_SHARING_VIOLATION);
    // Write-through: the data is on disk before the new name can point at it.
    if ((flags & MOVEFILE_WRITE_THROUGH) && S_ISREG(source.st_mode)) syncPath(from, O_RDONLY);
    int rc = (flags & MOVEFILE_REPLACE_EXISTING) || sameFile
                 ? ::rename(from.c_str(), to.c_str())
                 : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
    if (rc != 0 && errno == EXDEV) {
        if (!(flags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(source.st_mode)) return fail(ERROR_NOT_SAME_DEVICE);
        if (!copyContents(from, to, !(flags & MOVEFILE_REPLACE_EXISTING))) return FALSE;
        rc = ::unlink(from.c_str());
    }
    if (rc != 0) return failForPath(errno, to);
    if (flags & MOVEFILE_WRITE_THROUGH) {
        syncPath(parentFolder(to), O_RDONLY | O_DIRECTORY);
        if (parentFolder(from) != parentFolder(to)) syncPath(parentFolder(from), O_RDONLY | O_DIRECTORY);
    }
    return TRUE;
}

extern "C" BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    if (!existingFileName || !newFileName) return fail(ERROR_INVALID_PARAMETER);
    std::string from = hostPathOf(existingFileName);
    std::string to = hostPathOf(newFileName);
    struct stat source {};
    if (::stat(from.c_str(), &source) != 0) return failForPath(errno, from);
    if (S_ISDIR(source.st_mode)) return fail(ERROR_ACCESS_DENIED);
    struct stat target {};
    if (::stat(to.c_str(), &target) == 0) {
        if (failIfExists) return fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(target.st_mode) || p::isReadOnlyFile(target)) return fail(ERROR_ACCESS_DENIED);
        if (target.st_ino == source.st_ino && target.st_dev == source.st_dev) return fail(ERROR_SHARING_VIOLATION);
    }
    return copyContents(from, to, failIfExists) ? TRUE : FALSE;
}

extern "C" BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    if (!pathName) return fail(ERROR_PATH_NOT_FOUND);
    std::string path = hostPathOf(pathName);
    if (::mkdir(path.c_str(), 0777) != 0) {
        // A missing parent is always a missing path here: the folder itself cannot be "not found".
        if (errno == ENOENT) return fail(ERROR_PATH_NOT_FOUND);
        return failForPath(errno, path);
    }
    return TRUE;
}

extern "C" DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
    // TMPDIR is the user's choice, as TMP is on Windows.
    const char* tmp = std::getenv("TMPDIR");
    std::string host = tmp && *tmp ? tmp : p::userTempDir();
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    std::wstring path = p::toWindowsPath(host);
    if (path.empty() || path.back() != L'\\') path += L'\\';
    auto length = static_cast<DWORD>(path.size());
    // Too small: the size needed including the terminating NUL.
    if (!buffer || bufferLength <= length) return length + 1;
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return length;
}

extern "C" BOOL GetDiskFreeSpaceExW(LPCWSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                                    PULARGE_INTEGER totalNumberOfBytes, PULARGE_INTEGER totalNumberOfFreeBytes) {
    std::string path = directoryName ? hostPathOf(directoryName) : ".";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failForPath(errno, path);
    if (!S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0) return failForPath(errno, path);
    ULONGLONG unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    // A disk filled by a test rule has nothing left for anyone.
    bool full = p::faults::check("DiskFull", path).has_value();
    if (full) vfs.f_bavail = vfs.f_bfree = 0;
    if (freeBytesAvailableToCaller) freeBytesAvailableToCaller->QuadPart = unit * vfs.f_bavail;
    if (totalNumberOfBytes) totalNumberOfBytes->QuadPart = unit * vfs.f_blocks;
    if (totalNumberOfFreeBytes) totalNumberOfFreeBytes->QuadPart = unit * vfs.f_bfree;
    return TRUE;
}
