#include "mount_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32_filetime.h"
#include "root_mount.h"

namespace nimbrel::platform::cf {

namespace {

constexpr const char* kRecordAttribute = "user.nimbrel.cf";
// Names and attributes stay in the kernel: what changes them either goes through this mount (the
// kernel updates its cache itself) or is a Cloud Files operation on the covered folder, which tells
// the service (see "changed"). A name made there is found at once, as misses are not kept.
constexpr double kCacheSeconds = 60;
// A listing the kernel keeps is reused a margin below its entry time, so that the entries of a
// listing served again come with fresh attributes rather than one lookup each.
constexpr auto kListingReuse = std::chrono::seconds(static_cast<int>(kCacheSeconds) - 10);
// Reads of a placeholder that keep meeting a dehydration give up with an I/O error.
constexpr int kReadAttempts = 8;

struct OpenFile {
    int fd = -1;
    std::string relative;
    bool placeholder = false;
    bool recordLost = false;     // a placeholder's attribute without a record: its data is unknown
    bool inSyncKept = false;     // no data write yet since the open
    std::int64_t localUsn = -1;  // the usn of the record last seen hydrated, or -1
    std::mutex mutex;
};

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
    bool whole = false;  // read from its start without a seek, with every entry described
    CacheStamp folder;   // the folder as it was when opened
};

RootMount& mountOf(fuse_req_t req) { return *static_cast<RootMount*>(fuse_req_userdata(req)); }

pid_t requester(fuse_req_t req) { return fuse_req_ctx(req)->pid; }

// The path below the covered folder of a node, or of `name` in it; the request is answered ENOENT
// when the kernel names a node that is gone.
template <typename... Name>
std::optional<std::string> pathOrGone(fuse_req_t req, fuse_ino_t ino, const Name&... name) {
    auto relative = mountOf(req).nodes().relative(ino, name...);
    if (!relative) fuse_reply_err(req, ENOENT);
    return relative;
}

OpenFile& fileOf(const fuse_file_info* fi) { return *reinterpret_cast<OpenFile*>(fi->fh); }

OpenDir& dirOf(const fuse_file_info* fi) { return *reinterpret_cast<OpenDir*>(fi->fh); }

void replyResult(fuse_req_t req, int rc) { fuse_reply_err(req, rc < 0 ? errno : 0); }

// The provider reading its own placeholders gets the bytes as they are, as through the file
// functions; for everyone else a failed fetch is an I/O error.
bool fetched(NTSTATUS status) { return status == STATUS_SUCCESS || status == STATUS_CLOUD_FILE_ACCESS_DENIED; }

CacheStamp stampOf(const struct stat& st) {
    return {st.st_ctim, st.st_mtim, st.st_size, std::chrono::steady_clock::now()};
}

bool sameFile(const CacheStamp& a, const CacheStamp& b) {
    return sameTime(a.changed, b.changed) && sameTime(a.modified, b.modified) && a.size == b.size;
}

// The block a file system may count for the record attribute holds no data: a placeholder whose
// data is not local takes no space, as Windows reports it.
void hideRecordBlocks(const RootMount& mount, const std::string& relative, struct stat& st) {
    if (S_ISREG(st.st_mode) && st.st_blocks > 0 && mount.gate().isDehydrated(mount.procPath(relative))) {
        st.st_blocks = 0;
    }
}

// Stats `relative` for the kernel; 0 or the errno.
int statOf(const RootMount& mount, const std::string& relative, struct stat& st) {
    if (::fstatat(mount.covered(), relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    hideRecordBlocks(mount, relative, st);
    return 0;
}

fuse_entry_param entryOf(fuse_ino_t id, const struct stat& st) {
    fuse_entry_param e{};
    e.ino = id;
    e.attr = st;
    e.attr_timeout = kCacheSeconds;
    e.entry_timeout = kCacheSeconds;
    return e;
}

// Finds `name` below `parent` and counts the kernel's lookup of it; 0 or the errno.
int findEntry(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_entry_param& e) {
    RootMount& mount = mountOf(req);
    auto relative = mount.nodes().relative(parent, name);
    if (!relative) return ENOENT;
    struct stat st {};
    if (int error = statOf(mount, *relative, st)) return error;
    const fuse_ino_t id = mount.nodes().remember(parent, name, st);
    if (id == 0) return ENOENT;
    e = entryOf(id, st);
    return 0;
}

void replyEntry(fuse_req_t req, fuse_ino_t parent, const char* name) {
    fuse_entry_param e{};
    if (int error = findEntry(req, parent, name, e)) {
        fuse_reply_err(req, error);
        return;
    }
    if (fuse_reply_entry(req, &e) != 0) mountOf(req).nodes().forget(e.ino, 1);
}

void init(void*, fuse_conn_info* conn) {
    conn->want |= FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE;
    // Every listing brings the attributes along, not only the first one of a folder.
    conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
}

void lookup(fuse_req_t req, fuse_ino_t parent, const char* name) { replyEntry(req, parent, name); }

void forget(fuse_req_t req, fuse_ino_t ino, uint64_t lookups) {
    mountOf(req).nodes().forget(ino, lookups);
    fuse_reply_none(req);
}

void forgetMulti(fuse_req_t req, size_t count, fuse_forget_data* forgets) {
    NodeTable& nodes = mountOf(req).nodes();
    for (size_t i = 0; i < count; ++i) nodes.forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    RootMount& mount = mountOf(req);
    struct stat st {};
    if (fi) {
        if (::fstat(fileOf(fi).fd, &st) != 0) {
            fuse_reply_err(req, errno);
            return;
        }
        if (S_ISREG(st.st_mode) && st.st_blocks > 0) {
            auto record = mount.gate().placeholderOf(fileOf(fi).fd);
            if (record && !record->hydrated) st.st_blocks = 0;
        }
    } else {
        auto relative = pathOrGone(req, ino);
        if (!relative) return;
        if (int error = statOf(mount, *relative, st)) {
            fuse_reply_err(req, error);
            return;
        }
    }
    fuse_reply_attr(req, &st, kCacheSeconds);
}

// Data beyond the new size of a placeholder stays the cloud's until it is fetched.
int truncate(fuse_req_t req, const std::string& relative, off_t size, fuse_file_info* fi) {
    const RootMount& mount = mountOf(req);
    int fd = fi ? fileOf(fi).fd : ::openat(mount.covered(), relative.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    if (auto record = mount.gate().placeholderOf(fd)) {
        if (!record->hydrated && size > 0 && !fetched(mount.gate().fetch(relative, requester(req)))) {
            error = EIO;
        } else {
            mount.gate().written(fd, size == 0);
        }
    }
    if (error == 0 && ::ftruncate(fd, size) != 0) error = errno;
    if (!fi) ::close(fd);
    return error;
}

int setTimes(const RootMount& mount, const std::string& relative, const struct stat* attr, int valid,
             fuse_file_info* fi) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (valid & FUSE_SET_ATTR_ATIME_NOW) {
        times[0].tv_nsec = UTIME_NOW;
    } else if (valid & FUSE_SET_ATTR_ATIME) {
        times[0] = attr->st_atim;
    }
    if (valid & FUSE_SET_ATTR_MTIME_NOW) {
        times[1].tv_nsec = UTIME_NOW;
    } else if (valid & FUSE_SET_ATTR_MTIME) {
        times[1] = attr->st_mtim;
    }
    const int rc = fi ? ::futimens(fileOf(fi).fd, times)
                      : ::utimensat(mount.covered(), relative.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return rc != 0 ? errno : 0;
}

int changeAttributes(fuse_req_t req, const std::string& relative, const struct stat* attr, int valid,
                     fuse_file_info* fi) {
    const RootMount& mount = mountOf(req);
    const int covered = mount.covered();
    const char* path = relative.c_str();
    if (valid & FUSE_SET_ATTR_MODE) {
        const int rc = fi ? ::fchmod(fileOf(fi).fd, attr->st_mode) : ::fchmodat(covered, path, attr->st_mode, 0);
        if (rc != 0) return errno;
    }
    if (valid & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID)) {
        const uid_t uid = (valid & FUSE_SET_ATTR_UID) ? attr->st_uid : static_cast<uid_t>(-1);
        const gid_t gid = (valid & FUSE_SET_ATTR_GID) ? attr->st_gid : static_cast<gid_t>(-1);
        const int rc =
            fi ? ::fchown(fileOf(fi).fd, uid, gid) : ::fchownat(covered, path, uid, gid, AT_SYMLINK_NOFOLLOW);
        if (rc != 0) return errno;
    }
    if (valid & FUSE_SET_ATTR_SIZE) {
        if (int error = truncate(req, relative, attr->st_size, fi)) return error;
    }
    if (valid & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_ATIME_NOW | FUSE_SET_ATTR_MTIME_NOW)) {
        return setTimes(mount, relative, attr, valid, fi);
    }
    return 0;
}

void setattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int valid, fuse_file_info* fi) {
    auto relative = pathOrGone(req, ino);
    if (!relative) return;
    if (int error = changeAttributes(req, *relative, attr, valid, fi)) {
        fuse_reply_err(req, error);
        return;
    }
    getattr(req, ino, fi);
}

void readlink(fuse_req_t req, fuse_ino_t ino) {
    RootMount& mount = mountOf(req);
    auto relative = mount.nodes().relative(ino);
    char buffer[PATH_MAX + 1];
    const ssize_t n = relative ? ::readlinkat(mount.covered(), relative->c_str(), buffer, PATH_MAX) : -1;
    if (n < 0) {
        fuse_reply_err(req, relative ? errno : ENOENT);
        return;
    }
    buffer[n] = '\0';
    fuse_reply_readlink(req, buffer);
}

// Makes `name` below `parent` with `make` (given its path below the covered folder) and answers
// with its entry.
template <typename Make>
void makeEntry(fuse_req_t req, fuse_ino_t parent, const char* name, Make make) {
    RootMount& mount = mountOf(req);
    auto relative = pathOrGone(req, parent, name);
    if (!relative) return;
    if (make(mount.covered(), relative->c_str()) != 0) {
        fuse_reply_err(req, errno);
        return;
    }
    replyEntry(req, parent, name);
}

void mkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode) {
    makeEntry(req, parent, name, [mode](int covered, const char* path) { return ::mkdirat(covered, path, mode); });
}

void symlink(fuse_req_t req, const char* target, fuse_ino_t parent, const char* name) {
    makeEntry(req, parent, name,
              [target](int covered, const char* path) { return ::symlinkat(target, covered, path); });
}

void link(fuse_req_t req, fuse_ino_t ino, fuse_ino_t parent, const char* name) {
    auto from = pathOrGone(req, ino);
    if (!from) return;
    makeEntry(req, parent, name,
              [&from](int covered, const char* path) { return ::linkat(covered, from->c_str(), covered, path, 0); });
}

void remove(fuse_req_t req, fuse_ino_t parent, const char* name, int flags) {
    RootMount& mount = mountOf(req);
    auto relative = pathOrGone(req, parent, name);
    if (!relative) return;
    struct stat st {};
    const bool known = ::fstatat(mount.covered(), relative->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (::unlinkat(mount.covered(), relative->c_str(), flags) != 0) {
        fuse_reply_err(req, errno);
        return;
    }
    // A file with another name is reached by that one from now on.
    if (known) mount.nodes().unlinked(parent, name, st);
    fuse_reply_err(req, 0);
}

void unlink(fuse_req_t req, fuse_ino_t parent, const char* name) { remove(req, parent, name, 0); }

void rmdir(fuse_req_t req, fuse_ino_t parent, const char* name) { remove(req, parent, name, AT_REMOVEDIR); }

void rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
            unsigned int flags) {
    RootMount& mount = mountOf(req);
    NodeTable& nodes = mount.nodes();
    const int covered = mount.covered();
    auto from = nodes.relative(parent, name);
    auto to = nodes.relative(newParent, newName);
    if (!from || !to) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    struct stat moving {};
    struct stat replaced {};
    const bool known = ::fstatat(covered, from->c_str(), &moving, AT_SYMLINK_NOFOLLOW) == 0;
    const bool existed = ::fstatat(covered, to->c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0;
    if (::renameat2(covered, from->c_str(), covered, to->c_str(), flags) != 0) {
        fuse_reply_err(req, errno);
        return;
    }
    // Two names of one file: the rename changed nothing.
    if (existed && known && replaced.st_dev == moving.st_dev && replaced.st_ino == moving.st_ino) {
        fuse_reply_err(req, 0);
        return;
    }
    // The kernel moves its names itself; the nodes must be found under them from now on.
    if (existed && (flags & RENAME_EXCHANGE)) nodes.linked(parent, name, replaced);
    if (existed) nodes.unlinked(newParent, newName, replaced);
    if (known) {
        nodes.linked(newParent, newName, moving);
        nodes.unlinked(parent, name, moving);
    }
    fuse_reply_err(req, 0);
}

// Opens the file behind `fd` for the kernel; 0 or the errno (the descriptor is closed then).
int openFile(fuse_req_t req, const std::string& relative, fuse_file_info* fi, int fd) {
    if (fd < 0) return errno;
    const RootMount& mount = mountOf(req);
    auto* file = new OpenFile;
    file->fd = fd;
    file->relative = relative;
    if (auto record = mount.gate().placeholderOf(fd, &file->recordLost)) {
        file->placeholder = true;
        file->inSyncKept = true;
        // The provider reads its placeholders as they are, holes included. Those bytes must not
        // land in the pages the kernel keeps for every other reader, who would take them for data,
        // and its open must not wait to drop those pages: a reader may hold one while its read
        // waits for this very provider.
        if (mount.gate().opened(file->relative, requester(req))) {
            fi->direct_io = 1;
            fi->keep_cache = 1;
        }
        struct stat st {};
        const bool local = record->hydrated || (::fstat(fd, &st) == 0 && st.st_size == 0);
        // Data written into a placeholder lands on the whole file, as Windows fetches it first.
        if (!local && (fi->flags & O_ACCMODE) != O_RDONLY &&
            !fetched(mount.gate().fetch(file->relative, requester(req)))) {
            ::close(fd);
            delete file;
            return EIO;
        }
        // Truncated by the open: every byte is local now, and it differs from the cloud's.
        if (fi->flags & O_TRUNC) {
            mount.gate().written(fd, true);
            file->inSyncKept = false;
        }
    }
    fi->fh = reinterpret_cast<std::uint64_t>(file);
    return 0;
}

// What the data of an open file looks like for the rule below; size -1 for a placeholder whose data
// is not local.
std::optional<CacheStamp> dataStampOf(const RootMount& mount, const OpenFile& file) {
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return std::nullopt;
    CacheStamp now = stampOf(st);
    if (file.recordLost) now.size = -1;
    if (file.placeholder) {
        auto record = mount.gate().placeholderOf(file.fd);
        if (record && !record->hydrated) now.size = -1;
        now.changed = {};
    }
    return now;
}

// The kernel keeps the pages it holds of a file only while the file is as it was when it last
// began to cache them: any change of an ordinary file's data changes its ctime. A placeholder's
// ctime also moves with its Cloud Files state (times put back after a hydration, attributes), so its
// pages are kept while its data is local with the same size and write time; the pages of one whose
// data went back to the cloud are dropped, so that its next reader fetches it (and the Cloud Files
// changes beside the kernel drop those of files already open, see RootMount::invalidate).
void decideDataCache(RootMount& mount, fuse_ino_t ino, fuse_file_info* fi) {
    // The provider's own handles bypass the pages and keep them (see openFile).
    if (fi->direct_io) return;
    auto now = dataStampOf(mount, fileOf(fi));
    if (!now) return;
    auto before = mount.nodes().dataStamp(ino);
    fi->keep_cache = now->size >= 0 && before && sameFile(*before, *now);
    if (!fi->keep_cache) mount.nodes().setDataStamp(ino, *now);
}

void releaseFile(OpenFile* file) {
    ::close(file->fd);
    delete file;
}

void open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    RootMount& mount = mountOf(req);
    auto relative = pathOrGone(req, ino);
    if (!relative) return;
    const int flags = (fi->flags & ~(O_CREAT | O_EXCL | O_NOCTTY)) | O_CLOEXEC;
    if (int error = openFile(req, *relative, fi, ::openat(mount.covered(), relative->c_str(), flags))) {
        fuse_reply_err(req, error);
        return;
    }
    decideDataCache(mount, ino, fi);
    if (fuse_reply_open(req, fi) != 0) releaseFile(&fileOf(fi));
}

void create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi) {
    RootMount& mount = mountOf(req);
    auto relative = pathOrGone(req, parent, name);
    if (!relative) return;
    const int fd = ::openat(mount.covered(), relative->c_str(), fi->flags | O_CLOEXEC, mode);
    if (int error = openFile(req, *relative, fi, fd)) {
        fuse_reply_err(req, error);
        return;
    }
    fuse_entry_param e{};
    if (int error = findEntry(req, parent, name, e)) {
        releaseFile(&fileOf(fi));
        fuse_reply_err(req, error);
        return;
    }
    decideDataCache(mount, e.ino, fi);
    if (fuse_reply_create(req, &e, fi) != 0) {
        releaseFile(&fileOf(fi));
        mount.nodes().forget(e.ino, 1);
    }
}

// The descriptor's bytes as they are, handed to the kernel without a copy.
void replyBytesOf(fuse_req_t req, int fd, size_t size, off_t offset) {
    fuse_bufvec buffers = FUSE_BUFVEC_INIT(size);
    buffers.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    buffers.buf[0].fd = fd;
    buffers.buf[0].pos = offset;
    fuse_reply_data(req, &buffers, FUSE_BUF_SPLICE_MOVE);
}

// The bytes of a placeholder count only when its record says they are local both before and after
// they were read, unchanged: a dehydration marks the record before its first hole is punched, so a
// read that met a hole sees the change and fetches again instead of handing zeros to the kernel,
// which would keep them in its cache for every later reader. The record one read found after its
// bytes was also seen before the next read began, so a file read through costs one look per read.
void replyPlaceholderBytes(fuse_req_t req, fuse_ino_t ino, OpenFile& file, size_t size, off_t offset) {
    RootMount& mount = mountOf(req);
    thread_local std::vector<char> data;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        std::int64_t usn = -1;
        {
            std::lock_guard lock(file.mutex);
            usn = file.localUsn;
        }
        if (usn < 0) {
            auto before = mount.gate().placeholderOf(file.fd);
            if (!before) return replyBytesOf(req, file.fd, size, offset);
            if (!before->hydrated) {
                struct stat st {};
                if (::fstat(file.fd, &st) == 0 && offset >= st.st_size) {
                    return replyBytesOf(req, file.fd, size, offset);
                }
                const NTSTATUS status = mount.gate().fetch(file.relative, requester(req));
                // The provider reading its own placeholder gets the bytes as they are.
                if (status == STATUS_CLOUD_FILE_ACCESS_DENIED) return replyBytesOf(req, file.fd, size, offset);
                if (status != STATUS_SUCCESS) {
                    fuse_reply_err(req, EIO);
                    return;
                }
                // The pages dropped when this handle opened the file dehydrated, every page cached
                // from now on holds bytes checked as local: the next open keeps them rather than
                // reading the whole file through the mount again.
                if (auto local = dataStampOf(mount, file)) mount.nodes().setDataStamp(ino, *local);
                continue;
            }
            usn = before->usn;
        }
        data.resize(size);
        const ssize_t n = ::pread(file.fd, data.data(), size, offset);
        const int error = errno;
        auto after = mount.gate().placeholderOf(file.fd);
        const bool unchanged = !after || (after->hydrated && after->usn == usn);
        {
            std::lock_guard lock(file.mutex);
            file.localUsn = after && after->hydrated ? after->usn : -1;
        }
        if (n >= 0 && unchanged) {
            fuse_reply_buf(req, data.data(), static_cast<size_t>(n));
            return;
        }
        if (n < 0) {
            fuse_reply_err(req, error);
            return;
        }
    }
    fuse_reply_err(req, EIO);
}

void read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
    OpenFile& file = fileOf(fi);
    // Its holes may be data that only the cloud has: the read fails, as on Windows a placeholder
    // whose metadata is corrupt does, rather than handing zeros out for it.
    if (file.recordLost) {
        fuse_reply_err(req, EIO);
    } else if (!file.placeholder) {
        replyBytesOf(req, file.fd, size, offset);
    } else {
        replyPlaceholderBytes(req, ino, file, size, offset);
    }
}

void write(fuse_req_t req, fuse_ino_t, const char* data, size_t size, off_t offset, fuse_file_info* fi) {
    OpenFile& file = fileOf(fi);
    {
        std::lock_guard lock(file.mutex);
        if (file.inSyncKept) {
            mountOf(req).gate().written(file.fd);
            file.inSyncKept = false;
        }
    }
    const ssize_t n = ::pwrite(file.fd, data, size, offset);
    if (n < 0) {
        fuse_reply_err(req, errno);
    } else {
        fuse_reply_write(req, static_cast<size_t>(n));
    }
}

void release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    releaseFile(&fileOf(fi));
    fuse_reply_err(req, 0);
}

void fsync(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info* fi) {
    replyResult(req, dataOnly ? ::fdatasync(fileOf(fi).fd) : ::fsync(fileOf(fi).fd));
}

void fallocate(fuse_req_t req, fuse_ino_t, int mode, off_t offset, off_t length, fuse_file_info* fi) {
    replyResult(req, ::fallocate(fileOf(fi).fd, mode, offset, length));
}

void statfs(fuse_req_t req, fuse_ino_t) {
    struct statvfs st {};
    if (::fstatvfs(mountOf(req).covered(), &st) != 0) {
        fuse_reply_err(req, errno);
    } else {
        fuse_reply_statfs(req, &st);
    }
}

// The path the attribute calls reach `ino` by; empty (answered ENOENT) for an unknown node.
std::string attributePath(fuse_req_t req, fuse_ino_t ino) {
    RootMount& mount = mountOf(req);
    auto relative = pathOrGone(req, ino);
    if (!relative) return {};
    return mount.procPath(*relative);
}

// Answers a size query or the bytes of an attribute call that produced `n` of them into `data`.
void replyAttributeBytes(fuse_req_t req, ssize_t n, const char* data, size_t size) {
    if (n < 0) {
        fuse_reply_err(req, errno);
    } else if (size == 0) {
        fuse_reply_xattr(req, static_cast<size_t>(n));
    } else {
        fuse_reply_buf(req, data, static_cast<size_t>(n));
    }
}

void setxattr(fuse_req_t req, fuse_ino_t ino, const char* name, const char* value, size_t size, int flags) {
    if (std::strcmp(name, kRecordAttribute) == 0) {
        fuse_reply_err(req, EPERM);
        return;
    }
    const std::string path = attributePath(req, ino);
    if (!path.empty()) replyResult(req, ::lsetxattr(path.c_str(), name, value, size, flags));
}

void getxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size) {
    if (std::strcmp(name, kRecordAttribute) == 0) {
        fuse_reply_err(req, ENODATA);
        return;
    }
    const std::string path = attributePath(req, ino);
    if (path.empty()) return;
    std::vector<char> value(size);
    replyAttributeBytes(req, ::lgetxattr(path.c_str(), name, size ? value.data() : nullptr, size), value.data(), size);
}

void listxattr(fuse_req_t req, fuse_ino_t ino, size_t size) {
    const std::string path = attributePath(req, ino);
    if (path.empty()) return;
    std::string names(64 * 1024, '\0');
    const ssize_t n = ::llistxattr(path.c_str(), names.data(), names.size());
    if (n < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    std::string shown;
    for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        const std::string name(names.c_str() + at);
        if (name != kRecordAttribute) shown += name + '\0';
        at += name.size() + 1;
    }
    if (size != 0 && shown.size() > size) {
        fuse_reply_err(req, ERANGE);
        return;
    }
    replyAttributeBytes(req, static_cast<ssize_t>(shown.size()), shown.data(), size);
}

void removexattr(fuse_req_t req, fuse_ino_t ino, const char* name) {
    if (std::strcmp(name, kRecordAttribute) == 0) {
        fuse_reply_err(req, EPERM);
        return;
    }
    const std::string path = attributePath(req, ino);
    if (!path.empty()) replyResult(req, ::lremovexattr(path.c_str(), name));
}

// The kernel keeps a folder's listing while the folder is as it was when the last whole listing
// of it began: a name made, removed or swapped beside the kernel changes the folder's ctime.
void opendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    RootMount& mount = mountOf(req);
    auto relative = pathOrGone(req, ino);
    if (!relative) return;
    const int fd = ::openat(mount.covered(), relative->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    struct stat st {};
    DIR* dir = ::fstat(fd, &st) == 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        const int error = errno;
        ::close(fd);
        fuse_reply_err(req, error);
        return;
    }
    auto* open = new OpenDir;
    open->dir = dir;
    open->folder = stampOf(st);
    auto listed = mount.nodes().listingStamp(ino);
    fi->fh = reinterpret_cast<std::uint64_t>(open);
    fi->cache_readdir = 1;
    fi->keep_cache = listed && sameFile(*listed, open->folder) && open->folder.at - listed->at < kListingReuse;
    if (fuse_reply_open(req, fi) != 0) {
        ::closedir(dir);
        delete open;
    }
}

// Adds the waiting entry to `buffer` (with its attributes for `plus`); the bytes it took, or more
// than `room` when it did not fit (then nothing is counted).
size_t addEntry(fuse_req_t req, fuse_ino_t ino, OpenDir& open, bool plus, char* buffer, size_t room) {
    const std::string& name = open.waitingName;
    struct stat st {};
    st.st_ino = open.waitingInode;
    st.st_mode = static_cast<mode_t>(DTTOIF(open.waitingType));
    if (!plus) return fuse_add_direntry(req, buffer, room, name.c_str(), &st, open.waitingEnd);
    fuse_entry_param e{};
    e.attr = st;
    // An entry without a node id is a name only: the kernel looks it up when it needs more.
    if (name != "." && name != "..") {
        if (::fstatat(::dirfd(open.dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            RootMount& mount = mountOf(req);
            if (auto relative = mount.nodes().relative(ino, name)) hideRecordBlocks(mount, *relative, st);
            e = entryOf(mount.nodes().remember(ino, name, st), st);
        } else {
            open.whole = false;
        }
    }
    const size_t used = fuse_add_direntry_plus(req, buffer, room, name.c_str(), &e, open.waitingEnd);
    if (used > room && e.ino != 0) mountOf(req).nodes().forget(e.ino, 1);
    return used;
}

void listFolder(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi, bool plus) {
    OpenDir& open = dirOf(fi);
    if (offset != open.next) {
        if (offset == 0) {
            ::rewinddir(open.dir);
        } else {
            ::seekdir(open.dir, offset);
        }
        open.hasWaiting = false;
        open.next = offset;
        open.whole = false;
    }
    if (offset == 0) open.whole = plus;
    std::vector<char> buffer(size);
    size_t used = 0;
    for (;;) {
        if (!open.hasWaiting) {
            errno = 0;
            const dirent* entry = ::readdir(open.dir);
            if (!entry) {
                if (errno != 0 && used == 0) {
                    fuse_reply_err(req, errno);
                    return;
                }
                if (errno == 0 && open.whole) mountOf(req).nodes().setListingStamp(ino, open.folder);
                break;
            }
            open.waitingName = entry->d_name;
            open.waitingInode = entry->d_ino;
            open.waitingType = entry->d_type;
            open.waitingEnd = entry->d_off;
            open.hasWaiting = true;
        }
        const size_t added = addEntry(req, ino, open, plus, buffer.data() + used, size - used);
        if (added > size - used) break;
        used += added;
        open.hasWaiting = false;
        open.next = open.waitingEnd;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void readdir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
    listFolder(req, ino, size, offset, fi, false);
}

// Every entry comes with its attributes, so a listing that looks at sizes or types (ls -l, find)
// costs the kernel no lookup per entry.
void readdirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
    listFolder(req, ino, size, offset, fi, true);
}

void releasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    auto* open = &dirOf(fi);
    ::closedir(open->dir);
    delete open;
    fuse_reply_err(req, 0);
}

fuse_lowlevel_ops makeOperations() {
    fuse_lowlevel_ops operations{};
    operations.init = init;
    operations.lookup = lookup;
    operations.forget = forget;
    operations.forget_multi = forgetMulti;
    operations.getattr = getattr;
    operations.setattr = setattr;
    operations.readlink = readlink;
    operations.mkdir = mkdir;
    operations.symlink = symlink;
    operations.link = link;
    operations.unlink = unlink;
    operations.rmdir = rmdir;
    operations.rename = rename;
    operations.open = open;
    operations.create = create;
    operations.read = read;
    operations.write = write;
    operations.release = release;
    operations.fsync = fsync;
    operations.fallocate = fallocate;
    operations.statfs = statfs;
    operations.setxattr = setxattr;
    operations.getxattr = getxattr;
    operations.listxattr = listxattr;
    operations.removexattr = removexattr;
    operations.opendir = opendir;
    operations.readdir = readdir;
    operations.readdirplus = readdirplus;
    operations.releasedir = releasedir;
    return operations;
}

}  // namespace

const fuse_lowlevel_ops& mountOperations() {
    static const fuse_lowlevel_ops operations = makeOperations();
    return operations;
}

}  // namespace nimbrel::platform::cf
