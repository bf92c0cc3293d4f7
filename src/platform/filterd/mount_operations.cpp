#include "mount_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "root_mount.h"

namespace nimbrel::platform::cf {

namespace {

constexpr const char* kTokenAttribute = "user.nimbrel.cf";
constexpr double kCacheSeconds = 60;
// Reads of a placeholder that keep meeting a dehydration give up with an I/O error.
constexpr int kReadAttempts = 8;

struct OpenFile {
    int fd = -1;
    std::string relative;
    std::string token;        // set for a placeholder
    bool inSyncKept = false;  // no data write yet since the open
    std::mutex mutex;
};

RootMount& mounted() { return *static_cast<RootMount*>(fuse_get_context()->private_data); }

pid_t requester() { return fuse_get_context()->pid; }

// "/a/b" as the mount names it, relative to the covered folder ("." for the root).
std::string relativeOf(const char* path) { return path[1] == '\0' ? std::string(".") : std::string(path + 1); }

std::string procPath(const char* path) {
    return "/proc/self/fd/" + std::to_string(mounted().covered()) + (path[1] == '\0' ? "" : path);
}

OpenFile& fileOf(fuse_file_info* fi) { return *reinterpret_cast<OpenFile*>(fi->fh); }

int result(int rc) { return rc < 0 ? -errno : 0; }

// The provider reading its own placeholders gets the bytes as they are, as through the file
// functions; for everyone else a failed fetch is an I/O error.
bool fetched(NTSTATUS status) { return status == STATUS_SUCCESS || status == STATUS_CLOUD_FILE_ACCESS_DENIED; }

void* init(fuse_conn_info* conn, fuse_config* config) {
    config->use_ino = 1;
    config->readdir_ino = 1;
    // Names and attributes stay in the kernel: what changes them either goes through this mount
    // (the kernel updates its cache itself) or is a Cloud Files operation on the covered folder,
    // which tells the service (see "changed"). A name made there is found at once, as misses are
    // not kept. Whether a page of data is still good is asked again after a second, as before.
    config->entry_timeout = kCacheSeconds;
    config->attr_timeout = kCacheSeconds;
    config->negative_timeout = 0;
    config->auto_cache = 1;
    config->ac_attr_timeout_set = 1;
    config->ac_attr_timeout = 1;
    conn->want |= FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE;
    // Every listing brings the attributes along, not only the first one of a folder.
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    return fuse_get_context()->private_data;
}

int getattr(const char* path, struct stat* st, fuse_file_info* fi) {
    const RootMount& mount = mounted();
    int rc =
        fi ? ::fstat(fileOf(fi).fd, st) : ::fstatat(mount.covered(), relativeOf(path).c_str(), st, AT_SYMLINK_NOFOLLOW);
    if (rc != 0) return -errno;
    // The block a file system may count for the token attribute holds no data: a placeholder whose
    // data is not local takes no space, as Windows reports it.
    if (S_ISREG(st->st_mode) && st->st_blocks > 0 && mount.gate().isDehydrated(procPath(path))) st->st_blocks = 0;
    return 0;
}

int readlink(const char* path, char* buffer, size_t size) {
    ssize_t n = ::readlinkat(mounted().covered(), relativeOf(path).c_str(), buffer, size - 1);
    if (n < 0) return -errno;
    buffer[n] = '\0';
    return 0;
}

int mkdir(const char* path, mode_t mode) {
    return result(::mkdirat(mounted().covered(), relativeOf(path).c_str(), mode));
}

int unlink(const char* path) { return result(::unlinkat(mounted().covered(), relativeOf(path).c_str(), 0)); }

int rmdir(const char* path) { return result(::unlinkat(mounted().covered(), relativeOf(path).c_str(), AT_REMOVEDIR)); }

int symlink(const char* target, const char* path) {
    return result(::symlinkat(target, mounted().covered(), relativeOf(path).c_str()));
}

int rename(const char* from, const char* to, unsigned int flags) {
    const int covered = mounted().covered();
    return result(::renameat2(covered, relativeOf(from).c_str(), covered, relativeOf(to).c_str(), flags));
}

int link(const char* from, const char* to) {
    const int covered = mounted().covered();
    return result(::linkat(covered, relativeOf(from).c_str(), covered, relativeOf(to).c_str(), 0));
}

int chmod(const char* path, mode_t mode, fuse_file_info* fi) {
    if (fi) return result(::fchmod(fileOf(fi).fd, mode));
    return result(::fchmodat(mounted().covered(), relativeOf(path).c_str(), mode, 0));
}

int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
    if (fi) return result(::fchown(fileOf(fi).fd, uid, gid));
    return result(::fchownat(mounted().covered(), relativeOf(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

// Data beyond the new size of a placeholder stays the cloud's until it is fetched.
int truncate(const char* path, off_t size, fuse_file_info* fi) {
    const RootMount& mount = mounted();
    int fd = fi ? fileOf(fi).fd : ::openat(mount.covered(), relativeOf(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    int rc = 0;
    if (auto record = mount.gate().placeholderOf(fd)) {
        if (!record->hydrated && size > 0 && !fetched(mount.gate().fetch(relativeOf(path), requester()))) {
            rc = -EIO;
        } else {
            mount.gate().written(record->token, size == 0);
        }
    }
    if (rc == 0) rc = result(::ftruncate(fd, size));
    if (!fi) ::close(fd);
    return rc;
}

int openFile(const char* path, fuse_file_info* fi, int fd) {
    if (fd < 0) return -errno;
    const RootMount& mount = mounted();
    auto* file = new OpenFile;
    file->fd = fd;
    file->relative = relativeOf(path);
    if (auto record = mount.gate().placeholderOf(fd)) {
        file->token = record->token;
        file->inSyncKept = true;
        // The provider reads its placeholders as they are, holes included. Those bytes must not
        // land in the pages the kernel keeps for every other reader, who would take them for data,
        // and its open must not wait to drop those pages: a reader may hold one while its read
        // waits for this very provider.
        if (mount.gate().opened(file->relative, requester())) {
            fi->direct_io = 1;
            fi->keep_cache = 1;
        }
        struct stat st {};
        const bool local = record->hydrated || (::fstat(fd, &st) == 0 && st.st_size == 0);
        // Data written into a placeholder lands on the whole file, as Windows fetches it first.
        if (!local && (fi->flags & O_ACCMODE) != O_RDONLY &&
            !fetched(mount.gate().fetch(file->relative, requester()))) {
            ::close(fd);
            delete file;
            return -EIO;
        }
    }
    fi->fh = reinterpret_cast<std::uint64_t>(file);
    return 0;
}

int open(const char* path, fuse_file_info* fi) {
    return openFile(path, fi,
                    ::openat(mounted().covered(), relativeOf(path).c_str(),
                             (fi->flags & ~(O_CREAT | O_EXCL | O_NOCTTY)) | O_CLOEXEC));
}

int create(const char* path, mode_t mode, fuse_file_info* fi) {
    return openFile(path, fi, ::openat(mounted().covered(), relativeOf(path).c_str(), fi->flags | O_CLOEXEC, mode));
}

// The descriptor's bytes as they are, handed to the kernel without a copy.
int bytesOf(int fd, size_t size, off_t offset, fuse_bufvec** buffers) {
    auto* vector = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
    if (!vector) return -ENOMEM;
    *vector = FUSE_BUFVEC_INIT(size);
    vector->buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    vector->buf[0].fd = fd;
    vector->buf[0].pos = offset;
    *buffers = vector;
    return 0;
}

// The bytes of a placeholder count only when its record says they are local both before and after
// they were read, unchanged: a dehydration marks the record before its first hole is punched, so a
// read that met a hole sees the change and fetches again instead of handing zeros to the kernel,
// which would keep them in its cache for every later reader.
int placeholderBytes(const OpenFile& file, size_t size, off_t offset, fuse_bufvec** buffers) {
    const RootMount& mount = mounted();
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        auto before = mount.gate().placeholderOf(file.fd);
        if (!before) return bytesOf(file.fd, size, offset, buffers);
        if (!before->hydrated) {
            struct stat st {};
            if (::fstat(file.fd, &st) == 0 && offset >= st.st_size) return bytesOf(file.fd, size, offset, buffers);
            const NTSTATUS status = mount.gate().fetch(file.relative, requester());
            // The provider reading its own placeholder gets the bytes as they are.
            if (status == STATUS_CLOUD_FILE_ACCESS_DENIED) return bytesOf(file.fd, size, offset, buffers);
            if (status != STATUS_SUCCESS) return -EIO;
            continue;
        }
        auto* vector = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
        void* data = std::malloc(size);
        if (!vector || !data) {
            std::free(vector);
            std::free(data);
            return -ENOMEM;
        }
        const ssize_t n = ::pread(file.fd, data, size, offset);
        const int error = errno;
        auto after = mount.gate().placeholderOf(file.fd);
        if (n >= 0 && (!after || (after->hydrated && after->usn == before->usn))) {
            *vector = FUSE_BUFVEC_INIT(static_cast<size_t>(n));
            vector->buf[0].mem = data;
            *buffers = vector;
            return 0;
        }
        std::free(vector);
        std::free(data);
        if (n < 0) return -error;
    }
    return -EIO;
}

int readBuffer(const char*, fuse_bufvec** buffers, size_t size, off_t offset, fuse_file_info* fi) {
    const OpenFile& file = fileOf(fi);
    return file.token.empty() ? bytesOf(file.fd, size, offset, buffers) : placeholderBytes(file, size, offset, buffers);
}

int write(const char*, const char* data, size_t size, off_t offset, fuse_file_info* fi) {
    OpenFile& file = fileOf(fi);
    {
        std::lock_guard lock(file.mutex);
        if (file.inSyncKept) {
            mounted().gate().written(file.token);
            file.inSyncKept = false;
        }
    }
    ssize_t n = ::pwrite(file.fd, data, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

int statfs(const char*, struct statvfs* st) { return result(::fstatvfs(mounted().covered(), st)); }

int release(const char*, fuse_file_info* fi) {
    auto* file = &fileOf(fi);
    ::close(file->fd);
    delete file;
    return 0;
}

int fsync(const char*, int dataOnly, fuse_file_info* fi) {
    return result(dataOnly ? ::fdatasync(fileOf(fi).fd) : ::fsync(fileOf(fi).fd));
}

int setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
    if (std::strcmp(name, kTokenAttribute) == 0) return -EPERM;
    return result(::lsetxattr(procPath(path).c_str(), name, value, size, flags));
}

int getxattr(const char* path, const char* name, char* value, size_t size) {
    if (std::strcmp(name, kTokenAttribute) == 0) return -ENODATA;
    ssize_t n = ::lgetxattr(procPath(path).c_str(), name, value, size);
    return n < 0 ? -errno : static_cast<int>(n);
}

int listxattr(const char* path, char* list, size_t size) {
    std::string names(64 * 1024, '\0');
    ssize_t n = ::llistxattr(procPath(path).c_str(), names.data(), names.size());
    if (n < 0) return -errno;
    std::string shown;
    for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        const std::string name(names.c_str() + at);
        if (name != kTokenAttribute) shown += name + '\0';
        at += name.size() + 1;
    }
    if (size == 0) return static_cast<int>(shown.size());
    if (shown.size() > size) return -ERANGE;
    std::memcpy(list, shown.data(), shown.size());
    return static_cast<int>(shown.size());
}

int removexattr(const char* path, const char* name) {
    if (std::strcmp(name, kTokenAttribute) == 0) return -EPERM;
    return result(::lremovexattr(procPath(path).c_str(), name));
}

// A complete listing that described every entry: the kernel keeps those names and attributes for
// the cache time, and whatever changes them either changes the folder (its ctime) or goes through
// the kernel, or is a Cloud Files change that makes the kernel forget the attributes it touched.
struct Listing {
    struct timespec changed {};  // the folder's ctime when the listing began
    std::chrono::steady_clock::time_point at;
};

// A margin below the kernel's entry time: its timers start when the listing reaches it.
constexpr auto kListingReuse = std::chrono::seconds(static_cast<int>(kCacheSeconds) - 10);

std::mutex listingsMutex;
std::map<std::pair<dev_t, ino_t>, Listing> listings;

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A listing goes out a kernel buffer at a time. The entry that did not fit waits here for the next
// request, which asks for the position right before it: seeking there would make the file system
// read the folder again from its start for every buffer.
struct OpenDir {
    DIR* dir = nullptr;
    off_t next = 0;  // the position the stream (with `waiting`) is at
    bool hasWaiting = false;
    std::string waitingName;
    ino_t waitingInode = 0;
    unsigned char waitingType = DT_UNKNOWN;
    off_t waitingEnd = 0;
    std::pair<dev_t, ino_t> folder{};
    bool plain = false;       // names only: the kernel holds the rest
    bool describing = false;  // every entry goes out with its attributes
    Listing listing;
};

OpenDir& dirOf(fuse_file_info* fi) { return *reinterpret_cast<OpenDir*>(fi->fh); }

int opendir(const char* path, fuse_file_info* fi) {
    int fd = ::openat(mounted().covered(), relativeOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return -errno;
    }
    auto* open = new OpenDir;
    open->dir = dir;
    fi->fh = reinterpret_cast<std::uint64_t>(open);
    return 0;
}

// Starts a listing: it describes its entries again unless the kernel still holds what the last
// complete listing of the unchanged folder gave it.
void beginListing(OpenDir& open, bool plus) {
    struct stat folder {};
    open.plain = false;
    open.describing = false;
    if (::fstat(::dirfd(open.dir), &folder) != 0) return;
    open.folder = {folder.st_dev, folder.st_ino};
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(listingsMutex);
    auto found = listings.find(open.folder);
    if (found != listings.end() && sameTime(found->second.changed, folder.st_ctim) &&
        now - found->second.at < kListingReuse) {
        open.plain = true;
        return;
    }
    open.describing = plus;
    open.listing = {folder.st_ctim, now};
}

void endListing(const OpenDir& open) {
    if (!open.describing) return;
    std::lock_guard lock(listingsMutex);
    listings[open.folder] = open.listing;
}

// With `plus` every entry comes with its attributes, so a listing that looks at sizes or types (ls -l,
// find) costs the kernel no lookup per entry. Entries carry their positions: only then does the
// library pass those attributes on.
int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info* fi,
            fuse_readdir_flags flags) {
    OpenDir& open = dirOf(fi);
    if (offset != open.next) {
        if (offset == 0) {
            ::rewinddir(open.dir);
        } else {
            ::seekdir(open.dir, offset);
        }
        open.hasWaiting = false;
        open.next = offset;
    }
    const bool asked = flags & FUSE_READDIR_PLUS;
    if (offset == 0) beginListing(open, asked);
    const bool plus = asked && !open.plain;
    const std::string folder = procPath(path);
    for (;;) {
        if (!open.hasWaiting) {
            const dirent* entry = ::readdir(open.dir);
            if (!entry) {
                endListing(open);
                break;
            }
            open.waitingName = entry->d_name;
            open.waitingInode = entry->d_ino;
            open.waitingType = entry->d_type;
            open.waitingEnd = entry->d_off;
            open.hasWaiting = true;
        }
        const std::string& name = open.waitingName;
        struct stat st {};
        bool described = false;
        if (plus && name != "." && name != "..") {
            described = ::fstatat(::dirfd(open.dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (described && S_ISREG(st.st_mode) && st.st_blocks > 0 &&
                mounted().gate().isDehydrated(folder + "/" + name)) {
                st.st_blocks = 0;
            }
        }
        if (!described) {
            st.st_ino = open.waitingInode;
            st.st_mode = static_cast<mode_t>(DTTOIF(open.waitingType));
        }
        const auto fillFlags = static_cast<fuse_fill_dir_flags>(described ? FUSE_FILL_DIR_PLUS : 0);
        if (fill(buffer, name.c_str(), &st, open.waitingEnd, fillFlags) != 0) break;
        open.hasWaiting = false;
        open.next = open.waitingEnd;
    }
    return 0;
}

int releasedir(const char*, fuse_file_info* fi) {
    auto* open = &dirOf(fi);
    ::closedir(open->dir);
    delete open;
    return 0;
}

int utimens(const char* path, const struct timespec times[2], fuse_file_info* fi) {
    if (fi) return result(::futimens(fileOf(fi).fd, times));
    return result(::utimensat(mounted().covered(), relativeOf(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int fallocate(const char*, int mode, off_t offset, off_t length, fuse_file_info* fi) {
    return result(::fallocate(fileOf(fi).fd, mode, offset, length));
}

fuse_operations makeOperations() {
    fuse_operations operations{};
    operations.init = init;
    operations.getattr = getattr;
    operations.readlink = readlink;
    operations.mkdir = mkdir;
    operations.unlink = unlink;
    operations.rmdir = rmdir;
    operations.symlink = symlink;
    operations.rename = rename;
    operations.link = link;
    operations.chmod = chmod;
    operations.chown = chown;
    operations.truncate = truncate;
    operations.open = open;
    operations.create = create;
    operations.read_buf = readBuffer;
    operations.write = write;
    operations.statfs = statfs;
    operations.release = release;
    operations.fsync = fsync;
    operations.setxattr = setxattr;
    operations.getxattr = getxattr;
    operations.listxattr = listxattr;
    operations.removexattr = removexattr;
    operations.opendir = opendir;
    operations.readdir = readdir;
    operations.releasedir = releasedir;
    operations.utimens = utimens;
    operations.fallocate = fallocate;
    return operations;
}

}  // namespace

const fuse_operations& mountOperations() {
    static const fuse_operations operations = makeOperations();
    return operations;
}

}  // namespace nimbrel::platform::cf
