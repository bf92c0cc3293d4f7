#include "cf_item.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "cf_covered.h"
#include "cf_errors.h"
#include "cf_folder_records.h"
#include "cf_record_codec.h"
#include "cf_written_records.h"
#include "platform/descriptor_paths.h"
#include "platform/kernel_object.h"
#include "platform/win32_file_support.h"
#include "platform/win32_filetime.h"

namespace nimbrel::platform::cf {

namespace {

constexpr std::string_view kProcSelfFd = "/proc/self/fd/";

std::string fdLink(int fd) { return std::string(kProcSelfFd) + std::to_string(fd); }

std::string currentPathOf(int fd) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink(fdLink(fd).c_str(), buffer, sizeof(buffer) - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

// `rest` ("" or "/a/b") below a covered folder, opened without following a symbolic link.
int openPlainBelow(int covered, const std::string& rest, int flags) {
    return openBelowPlainly(covered, rest.empty() ? "." : rest.c_str() + 1, flags | O_CLOEXEC);
}

// lstat(2) of `rest` ("" or "/a/b") below a covered folder.
int statBelow(int covered, const std::string& rest, struct ::stat& st) {
    return ::fstatat(covered, rest.empty() ? "" : rest.c_str() + 1, &st,
                     AT_SYMLINK_NOFOLLOW | (rest.empty() ? AT_EMPTY_PATH : 0));
}

// The provider's own path below a root it is connected to, looked up below the covered folder in
// one step. Without a symbolic link on its way the path as given is canonical already (the root's
// path is); answers false when it cannot tell, and an empty item when nothing is there.
bool resolvePlain(const std::string& hostPath, std::optional<Item>& item) {
    int covered = -1;
    std::string rest;
    if (!providerCovered(hostPath, covered, rest)) return false;
    const int fd = openPlainBelow(covered, rest, O_PATH);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) return false;
        item.reset();
        return true;
    }
    item.emplace();
    const bool found = ::fstat(fd, &item->st) == 0;
    ::close(fd);
    if (!found) {
        item.reset();
        return true;
    }
    item->path = hostPath;
    item->access = coveredPath(covered, rest);
    return true;
}

// A copy of the descriptor behind a handle's /proc link when that descriptor may write. Changes
// made through the handle are made on its own open: opening the file again would break the lease
// behind the handle's oplock, which on Windows only another opener breaks. -1 otherwise.
int ownWritableDescriptor(const std::string& path) {
    if (path.rfind(kProcSelfFd, 0) != 0) return -1;
    const char* number = path.c_str() + kProcSelfFd.size();
    const char* end = path.c_str() + path.size();
    int fd = -1;
    if (auto [stop, error] = std::from_chars(number, end, fd); error != std::errc() || stop != end) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return -1;
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Finds the item's root and, when it is a placeholder, its record. `fd` (or -1) is the descriptor
// the item was reached through; `pathOnly` when it answers no extended-attribute call. `forChange`:
// the record is read under its lock, which the item keeps.
void identify(CfStore& store, Item& item, int fd, bool pathOnly, bool forChange) {
    item.root = store.rootContaining(item.path);
    if (!item.root) return;
    // The descriptor itself answers when the item is reached through it. One opened only for its
    // path cannot read extended attributes; the provider's own way to the item can, without the
    // walk through /proc, and the record's inode check below tells whether it names the same item.
    const bool throughFd = fd >= 0 && item.access == fdLink(fd);
    RecordFile file = recordFileOf(item);
    int covered = -1;
    std::string rest;
    if (throughFd && providerCovered(item.path, covered, rest)) file.path = coveredPath(covered, rest);
    if (throughFd && !pathOnly) file.fd = fd;
    item.recordPath = file.path;
    item.recordFd = file.fd;
    if (throughFd) item.statFd = fd;
    if (forChange && !item.lock) item.lock = std::make_shared<RecordLock>(file.device, file.inode);
    // A record this process wrote is not read back while nothing changed the file since.
    auto record = forChange && item.lookedUnderLock ? recallWritten(item.st) : std::nullopt;
    if (!record) record = readRecord(file, &item.recordLost, forChange);
    if (record && isRecordOf(*record, item.root->path, item.st)) item.record = std::move(record);
}

// The item behind a handle whose open reached it plainly below a root this process is connected
// to, when the path it was opened with still names it: that path is then the item's canonical
// one, found without asking /proc for the descriptor's. False when it cannot tell so cheaply: the
// item was renamed or removed, or it has several names and the handle's may be another.
bool locateOpenedPlainly(const FileObject& file, Item& item) {
    int covered = -1;
    std::string rest;
    if (!file.openedPlainly || !providerCovered(file.path, covered, rest)) return false;
    if (statBelow(covered, rest, item.st) != 0) return false;
    // The file the descriptor holds, as the open found it or as it answers now.
    struct ::stat held {};
    if (file.inode != 0) {
        held.st_dev = static_cast<dev_t>(file.device);
        held.st_ino = static_cast<ino_t>(file.inode);
    } else if (::fstat(file.fd, &held) != 0) {
        return false;
    }
    if (held.st_dev != item.st.st_dev || held.st_ino != item.st.st_ino) return false;
    if (!S_ISDIR(item.st.st_mode) && item.st.st_nlink != 1) return false;
    item.path = file.path;
    item.access = fdLink(file.fd);
    return true;
}

// The record of the folder at `rest` below a covered folder, when it is a placeholder of `root`:
// the items made one after another in a folder each ask, and a record this thread read a moment
// ago is not read again (see cf_folder_records.h).
std::optional<PlaceholderRecord> coveredFolderRecord(const SyncRootRecord& root, int covered, const std::string& rest) {
    struct ::statx folder {};
    const int flags = AT_SYMLINK_NOFOLLOW | (rest.empty() ? AT_EMPTY_PATH : 0);
    if (::statx(covered, rest.empty() ? "" : rest.c_str() + 1, flags, STATX_BASIC_STATS | STATX_BTIME, &folder) != 0)
        return std::nullopt;
    const std::uint64_t changes = folderRecordChanges();
    auto record = keptFolderRecord(folder, changes);
    if (!record) {
        record = readRecord(RecordFile{coveredPath(covered, rest)}, nullptr, true);
        if (record) keepFolderRecord(folder, changes, *record);
    }
    struct ::stat st {};
    st.st_dev = makedev(folder.stx_dev_major, folder.stx_dev_minor);
    st.st_ino = folder.stx_ino;
    if (!record || !isRecordOf(*record, root.path, st)) return std::nullopt;
    return record;
}

}  // namespace

std::string canonicalPath(const std::string& hostPath) {
    if (char* resolved = ::realpath(hostPath.c_str(), nullptr)) {
        std::string result(resolved);
        std::free(resolved);
        return result;
    }
    std::string trimmed = hostPath;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    auto slash = trimmed.rfind('/');
    if (slash == std::string::npos) return trimmed;
    std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
    std::string name = trimmed.substr(slash + 1);
    if (char* resolved = ::realpath(parent.c_str(), nullptr)) {
        std::string result(resolved);
        std::free(resolved);
        return (result == "/" ? "" : result) + "/" + name;
    }
    return trimmed;
}

int openFolderPlainly(const std::string& hostPath) {
    int covered = -1;
    std::string rest;
    if (!providerCovered(hostPath, covered, rest)) return -1;
    return openPlainBelow(covered, rest, O_PATH | O_DIRECTORY);
}

std::optional<Item> resolveItem(CfStore& store, const std::string& hostPath, int fd, bool forChange) {
    std::optional<Item> found;
    if (fd >= 0 || !resolvePlain(hostPath, found)) {
        found.emplace();
        Item& item = *found;
        if (fd >= 0) {
            item.path = currentPathOf(fd);
            if (item.path.empty()) item.path = canonicalPath(hostPath);
        } else {
            item.path = canonicalPath(hostPath);
        }
        // Under a filter mount the item is reached in the covered folder, where its record and its
        // own device and inode are.
        item.access = directPath(item.path, fd);
        if (statPath(item.access, item.st) != 0) return std::nullopt;
    }
    if (found) identify(store, *found, fd, false, forChange);
    return found;
}

std::optional<Item> resolveCanonical(CfStore& store, const std::string& hostPath) {
    int covered = -1;
    std::string rest;
    if (!providerCovered(hostPath, covered, rest)) return resolveItem(store, hostPath);
    Item item;
    if (statBelow(covered, rest, item.st) != 0) return std::nullopt;
    item.path = hostPath;
    item.access = coveredPath(covered, rest);
    identify(store, item, -1, false, false);
    return item;
}

std::optional<PlaceholderRecord> parentRecord(const Item& item) {
    const auto slash = item.path.rfind('/');
    const std::string parent = slash == 0 || slash == std::string::npos ? "/" : item.path.substr(0, slash);
    int covered = -1;
    std::string rest;
    if (providerCovered(parent, covered, rest)) return coveredFolderRecord(*item.root, covered, rest);
    const std::string path = directPath(parent);
    struct ::stat st {};
    if (statPath(path, st) != 0) return std::nullopt;
    auto record = readRecord(RecordFile{path}, nullptr, true);
    if (!record || !isRecordOf(*record, item.root->path, st)) return std::nullopt;
    return record;
}

std::optional<Item> resolveHandle(CfStore& store, HANDLE handle, HRESULT* error, bool forChange) {
    auto file = handleAs<FileObject>(handle);
    if (!file) {
        *error = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    auto found = resolveFile(store, *file, forChange);
    if (!found) *error = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return found;
}

std::optional<Item> resolveFile(CfStore& store, const FileObject& file, bool forChange) {
    Item item;
    // For a change, the record of the file the handle was opened on is locked before the file is
    // looked at, so that nothing the look shows can change until the change is written.
    if (forChange && file.openedPlainly) {
        struct ::stat held {};
        if (file.inode != 0) {
            item.lock = std::make_shared<RecordLock>(file.device, file.inode);
        } else if (::fstat(file.fd, &held) == 0) {
            item.lock = std::make_shared<RecordLock>(held.st_dev, held.st_ino);
        }
    }
    if (locateOpenedPlainly(file, item)) {
        item.lookedUnderLock = item.lock != nullptr;
        identify(store, item, file.fd, file.pathOnly, forChange);
        return item;
    }
    item.lock.reset();
    return resolveItem(store, file.path, file.fd, forChange);
}

HRESULT itemForCall(HANDLE handle, ItemNeed need, std::shared_ptr<CfStore>& store, std::optional<Item>& item,
                    bool forChange) {
    store = CfStore::current();
    if (!store) return E_FAIL;
    HRESULT error = S_OK;
    item = resolveHandle(*store, handle, &error, forChange);
    if (!item) return error;
    if (need != ItemNeed::Placeholder && !item->root) return hrWin32(ERROR_CLOUD_FILE_NOT_UNDER_SYNC_ROOT);
    if (need != ItemNeed::UnderRoot && !item->record) return hrWin32(ERROR_NOT_A_CLOUD_FILE);
    return S_OK;
}

RecordFile recordFileOf(const Item& item) {
    return RecordFile{item.recordPath.empty() ? item.access : item.recordPath, item.recordFd,
                      static_cast<std::uint64_t>(item.st.st_dev), static_cast<std::uint64_t>(item.st.st_ino),
                      item.statFd};
}

int openForWriting(const std::string& path) {
    if (int fd = ownWritableDescriptor(path); fd >= 0) return fd;
    // Transfers complete reads waiting in the filter mount, so they never go through it.
    const std::string accessPath = directPath(path);
    int fd = openPath(accessPath, O_WRONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    struct ::stat st {};
    if (::stat(accessPath.c_str(), &st) != 0 || ::chmod(accessPath.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
        errno = EACCES;
        return -1;
    }
    fd = openPath(accessPath, O_WRONLY | O_CLOEXEC);
    const int error = errno;
    ::chmod(accessPath.c_str(), st.st_mode & 07777);
    errno = error;
    return fd;
}

PlaceholderRecord newRecord(const Item& item) {
    PlaceholderRecord record;
    record.rootTag = item.root ? rootTagOf(item.root->path) : 0;
    record.device = item.st.st_dev;
    record.inode = item.st.st_ino;
    record.isDirectory = item.isDirectory();
    record.hydrated = true;
    // The creation time the file queries report for the item, which stays the item's own.
    FileFacts facts;
    record.creationTime =
        describeFile(item.path, -1, facts) ? facts.creationTime : fileTimeFromTimespec(item.st.st_mtim);
    return record;
}

}  // namespace nimbrel::platform::cf
