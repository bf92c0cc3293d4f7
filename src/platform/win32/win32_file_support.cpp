#include "platform/win32_file_support.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/descriptor_paths.h"
#include "platform/file_filter_hooks.h"
#include "platform/win32_filetime.h"
#include "platform/win_error.h"
#include "platform/win_file.h"
#include "win32_errno.h"

namespace nimbrel::platform {

namespace {

constexpr DWORD kWriteRights = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kStoredBits =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;

// The summed length of the file's data extents; false when the file system cannot map them.
bool mappedDataBytes(int fd, LONGLONG& bytes) {
    constexpr unsigned kBatch = 64;
    std::vector<char> buffer(sizeof(struct fiemap) + kBatch * sizeof(struct fiemap_extent));
    auto* map = reinterpret_cast<struct fiemap*>(buffer.data());
    bytes = 0;
    __u64 start = 0;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_extent_count = kBatch;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
        if (map->fm_mapped_extents == 0) return true;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const auto& extent = map->fm_extents[i];
            bytes += static_cast<LONGLONG>(extent.fe_length);
            if (extent.fe_flags & FIEMAP_EXTENT_LAST) return true;
            start = extent.fe_logical + extent.fe_length;
        }
    }
}

LONGLONG birthTime(const std::string& hostPath, int fd) {
    struct statx sx {};
    int rc = fd >= 0 ? ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx)
                     : ::statx(AT_FDCWD, hostPath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx);
    if (rc != 0 || !(sx.stx_mask & STATX_BTIME)) return 0;
    struct timespec time {};
    time.tv_sec = sx.stx_btime.tv_sec;
    time.tv_nsec = sx.stx_btime.tv_nsec;
    return fileTimeFromTimespec(time);
}

LONGLONG storedCreationTime(const std::string& hostPath, int fd) {
    LONGLONG value = 0;
    ssize_t n = fd >= 0 ? ::fgetxattr(fd, kCreationTimeXattr, &value, sizeof value)
                        : getXattrPath(hostPath, kCreationTimeXattr, &value, sizeof value, false);
    if (n != static_cast<ssize_t>(sizeof value) && fd >= 0 && !hostPath.empty()) {
        // Descriptors opened only for metadata cannot read extended attributes.
        n = getXattrPath(hostPath, kCreationTimeXattr, &value, sizeof value, false);
    }
    return n == static_cast<ssize_t>(sizeof value) ? value : 0;
}

// Which of the two attributes of the file functions a file carries, from one listing of its
// names: most files carry neither, and each read of a missing one costs a system call. Both count
// as present when the names cannot be listed.
struct StoredNames {
    bool creationTime = true;
    bool dosAttributes = true;
};

StoredNames storedNames(const std::string& accessPath, int fd) {
    char names[1024];
    ssize_t n = fd >= 0 ? ::flistxattr(fd, names, sizeof names) : -1;
    // Descriptors opened only for metadata cannot list extended attributes.
    if (n < 0 && !accessPath.empty()) n = listXattrPath(accessPath, names, sizeof names, false);
    if (n < 0) return {};
    StoredNames found{false, false};
    for (ssize_t at = 0; at < n;) {
        const std::string name(names + at);
        found.creationTime = found.creationTime || name == kCreationTimeXattr;
        found.dosAttributes = found.dosAttributes || name == kDosAttributesXattr;
        at += static_cast<ssize_t>(name.size()) + 1;
    }
    return found;
}

// `file`, when given, is the handle whose descriptor `fd` is.
bool describe(const std::string& hostPath, int fd, const FileObject* file, FileFacts& facts) {
    // The placeholder source is asked with the path as given: it finds its own way to the file.
    const std::string access = accessPathFor(hostPath);
    int rc = fd >= 0 ? ::fstat(fd, &facts.st) : statPath(access, facts.st, false);
    if (rc != 0) {
        setLastErrorForPath(errno, access);
        return false;
    }
    facts.lastAccessTime = fileTimeFromTimespec(facts.st.st_atim);
    facts.lastWriteTime = fileTimeFromTimespec(facts.st.st_mtim);
    facts.changeTime = fileTimeFromTimespec(facts.st.st_ctim);
    // A symbolic link is never a placeholder itself, whatever its target is.
    const PlaceholderAttributes placeholder = S_ISLNK(facts.st.st_mode) ? PlaceholderAttributes{}
                                              : file                    ? placeholderAttributesFor(*file)
                                              : fd >= 0                 ? placeholderAttributesFor(hostPath, fd)
                                                        : placeholderAttributesFor(hostPath, access, facts.st);
    // A descriptor opened only for its path is not asked for extended attributes: it cannot answer.
    const int attributeFd = file && file->pathOnly ? -1 : fd;
    const StoredNames stored = S_ISLNK(facts.st.st_mode) ? StoredNames{} : storedNames(access, attributeFd);
    facts.creationTime = stored.creationTime ? storedCreationTime(access, attributeFd) : 0;
    if (facts.creationTime == 0) facts.creationTime = placeholder.creationTime;
    if (facts.creationTime == 0) facts.creationTime = birthTime(access, fd);
    if (facts.creationTime == 0) facts.creationTime = facts.lastWriteTime;
    if (S_ISLNK(facts.st.st_mode)) {
        struct stat target {};
        bool toFolder = ::stat(access.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        facts.attributes = FILE_ATTRIBUTE_REPARSE_POINT | (toFolder ? FILE_ATTRIBUTE_DIRECTORY : 0);
        facts.reparseTag = IO_REPARSE_TAG_SYMLINK;
        return true;
    }
    facts.attributes = combinedAttributes(facts.st, access, placeholder, &facts.reparseTag, stored.dosAttributes);
    return true;
}

}  // namespace

bool describeFile(const std::string& hostPath, int fd, FileFacts& facts) {
    return describe(hostPath, fd, nullptr, facts);
}

bool describeFile(const FileObject& file, FileFacts& facts) { return describe(file.path, file.fd, &file, facts); }

LONGLONG dataAllocationBytes(const std::string& hostPath, int fd, const struct stat& st) {
    const LONGLONG counted = static_cast<LONGLONG>(st.st_blocks) * 512;
    if (!S_ISREG(st.st_mode) || counted == 0) return counted;
    LONGLONG mapped = 0;
    if (fd >= 0 && mappedDataBytes(fd, mapped)) return std::min(mapped, counted);
    const int own = openPath(hostPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (own < 0) return counted;
    const bool known = mappedDataBytes(own, mapped);
    ::close(own);
    return known ? std::min(mapped, counted) : counted;
}

bool storeCreationTime(const std::string& hostPath, int fd, LONGLONG fileTime) {
    int rc = fd >= 0 ? ::fsetxattr(fd, kCreationTimeXattr, &fileTime, sizeof fileTime, 0) : -1;
    if (rc != 0) rc = ::lsetxattr(hostPath.c_str(), kCreationTimeXattr, &fileTime, sizeof fileTime, 0);
    if (rc != 0) {
        setLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool applyAttributes(const std::string& hostPath, DWORD attributes) {
    struct stat st {};
    if (::stat(hostPath.c_str(), &st) != 0) {
        setLastErrorForPath(errno, hostPath);
        return false;
    }
    bool folder = S_ISDIR(st.st_mode);
    DWORD stored = attributes & (folder ? kStoredBits : kStoredBits & ~FILE_ATTRIBUTE_READONLY);
    bool readOnlyFile = !folder && (attributes & FILE_ATTRIBUTE_READONLY);
    mode_t writable = st.st_mode | S_IWUSR;
    // The stored bits are written while the file is writable: extended attributes of a file
    // without write permission cannot be changed by its owner.
    if (!folder && ::chmod(hostPath.c_str(), writable & 07777) != 0) {
        setLastErrorFromErrno(errno);
        return false;
    }
    int rc = stored != 0 ? ::setxattr(hostPath.c_str(), kDosAttributesXattr, &stored, sizeof stored, 0)
                         : ::removexattr(hostPath.c_str(), kDosAttributesXattr);
    int xattrError = (rc != 0 && !(stored == 0 && errno == ENODATA)) ? errno : 0;
    if (!folder) {
        mode_t mode = readOnlyFile ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : writable;
        if (::chmod(hostPath.c_str(), mode & 07777) != 0) {
            setLastErrorFromErrno(errno);
            return false;
        }
    }
    if (xattrError != 0) {
        setLastErrorFromErrno(xattrError);
        return false;
    }
    return true;
}

std::shared_ptr<FileObject> fileForHandle(HANDLE handle) {
    auto file = handleAs<FileObject>(handle);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

bool hasWriteAccess(DWORD desiredAccess) { return (desiredAccess & kWriteRights) != 0; }

bool hasAttributeWriteAccess(DWORD desiredAccess) {
    return hasWriteAccess(desiredAccess) || (desiredAccess & FILE_WRITE_ATTRIBUTES) != 0;
}

bool hasReadAccess(DWORD desiredAccess) {
    return (desiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA | GENERIC_EXECUTE)) != 0;
}

bool hasDataAccess(DWORD desiredAccess) { return hasReadAccess(desiredAccess) || hasWriteAccess(desiredAccess); }

bool isReadOnlyFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace nimbrel::platform
