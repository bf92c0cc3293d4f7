// CfCreatePlaceholders, CfConvertToPlaceholder and CfUpdatePlaceholder.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "cf_covered.h"
#include "cf_dehydrate.h"
#include "cf_errors.h"
#include "cf_filter_service.h"
#include "cf_item.h"
#include "cf_record_codec.h"
#include "cf_written_records.h"
#include "platform/descriptor_paths.h"
#include "platform/fault_injection.h"
#include "platform/kernel_object.h"
#include "platform/platform_paths.h"
#include "platform/win32_file_support.h"
#include "platform/win32_filetime.h"
#include "platform/windows.h"

using namespace nimbrel::platform;

namespace {

constexpr std::int64_t kPageSize = 4096;
constexpr DWORD kStoredAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

bool validIdentity(LPCVOID identity, DWORD length) {
    return length <= CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH && (length == 0 || identity);
}

// Applies times (0 = unchanged) and the DOS attributes the file stand-in keeps.
// The access and write times of `info` as utimensat(2) takes them; 0 leaves a time as it is.
void timesOf(const FILE_BASIC_INFO& info, struct timespec times[2]) {
    times[0] =
        info.LastAccessTime.QuadPart ? timespecFromFileTime(info.LastAccessTime.QuadPart) : timespec{0, UTIME_OMIT};
    times[1] =
        info.LastWriteTime.QuadPart ? timespecFromFileTime(info.LastWriteTime.QuadPart) : timespec{0, UTIME_OMIT};
}

HRESULT applyBasicInfo(const std::string& accessPath, const std::string& hostPath, const FILE_BASIC_INFO& info) {
    struct timespec times[2];
    timesOf(info, times);
    if (setTimesPath(accessPath, times) != 0) return cf::hrFromErrno(errno);
    if (info.FileAttributes) {
        const std::wstring windowsPath = toWindowsPath(hostPath);
        if (!SetFileAttributesW(windowsPath.c_str(), info.FileAttributes & kStoredAttributes)) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
    }
    return S_OK;
}

// A name no other item being made has.
std::string hiddenName() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char buffer[24];
    std::snprintf(buffer, sizeof(buffer), ".~cf-%016llx", static_cast<unsigned long long>(generator()));
    return buffer;
}

// A placeholder being made, with its record, waiting for its name. A file is made without a name
// and linked into the folder; a folder (or a file where the file system cannot make one without a
// name) is made under a hidden name and renamed. Either way the name never shows an item that is
// not yet a placeholder.
class Built {
public:
    Built() = default;
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;
    ~Built() { close(); }

    CF_PLACEHOLDER_CREATE_INFO* entry = nullptr;
    std::string name;       // below the base folder, UTF-8
    std::string temporary;  // the hidden name, when the item has one
    cf::PlaceholderRecord record;

    // Makes the item below `folder` (a descriptor of the base folder where it is reached directly).
    HRESULT make(int folder, bool isDirectory, std::int64_t size) {
        if (!isDirectory) {
            unnamed_ = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            if (unnamed_ >= 0) return sized(size);
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return cf::hrFromErrno(errno);
        }
        temporary = hiddenName();
        if (isDirectory) return ::mkdirat(folder, temporary.c_str(), 0777) == 0 ? S_OK : cf::hrFromErrno(errno);
        unnamed_ = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return unnamed_ >= 0 ? sized(size) : cf::hrFromErrno(errno);
    }
    // The item's descriptor while it is open, else -1.
    int descriptor() const { return unnamed_; }
    // Gives the item its name; fails when the name is taken.
    int place(int folder) {
        if (temporary.empty()) {
            // Linking a descriptor by itself needs a privilege; its /proc link does not.
            if (::linkat(unnamed_, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
            const std::string link = "/proc/self/fd/" + std::to_string(unnamed_);
            return ::linkat(AT_FDCWD, link.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
        }
        return ::renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
    }
    // Removes what was made; an unnamed file goes with its descriptor.
    void discard(int folder) {
        if (!temporary.empty()) ::unlinkat(folder, temporary.c_str(), record.isDirectory ? AT_REMOVEDIR : 0);
        temporary.clear();
        close();
    }
    void close() {
        if (unnamed_ >= 0) ::close(std::exchange(unnamed_, -1));
    }

private:
    HRESULT sized(std::int64_t size) { return ::ftruncate(unnamed_, size) == 0 ? S_OK : cf::hrFromErrno(errno); }

    int unnamed_ = -1;
};

// The item gets its own device and inode and its record where it is reached directly (under a
// filter mount, in the covered folder), before it has a name: a name never shows without its
// record. The record is made from what is known here, as the item is new and nothing about it
// needs to be looked up again.
HRESULT buildOne(const cf::SyncRootRecord& root, int folder, CF_PLACEHOLDER_CREATE_INFO& entry, Built& built) {
    if (!entry.RelativeFileName || !*entry.RelativeFileName) return cf::hrWin32(ERROR_INVALID_NAME);
    const std::wstring name(entry.RelativeFileName);
    if (name.find_first_of(L"\\/") != std::wstring::npos || name == L"." || name == L"..") {
        return cf::hrWin32(ERROR_INVALID_NAME);
    }
    const bool isDirectory = entry.FsMetadata.BasicInfo.FileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (!validIdentity(entry.FileIdentity, entry.FileIdentityLength) ||
        (!isDirectory && entry.FileIdentityLength == 0) || entry.FsMetadata.FileSize.QuadPart < 0) {
        return E_INVALIDARG;
    }
    built.entry = &entry;
    // A name that is taken already is found when the item is given it: names are hardly ever
    // taken, and a look for each one beforehand cost more than making an item in vain.
    built.name = toUtf8(name);
    cf::PlaceholderRecord& record = built.record;
    record.isDirectory = isDirectory;
    if (HRESULT hr = built.make(folder, isDirectory, entry.FsMetadata.FileSize.QuadPart); FAILED(hr)) {
        built.discard(folder);
        return hr;
    }
    const FILE_BASIC_INFO& info = entry.FsMetadata.BasicInfo;
    struct timespec times[2];
    timesOf(info, times);
    struct stat created {};
    const int fd = built.descriptor();
    const bool made = fd >= 0 ? ::futimens(fd, times) == 0 && ::fstat(fd, &created) == 0
                              : ::utimensat(folder, built.temporary.c_str(), times, 0) == 0 &&
                                    ::fstatat(folder, built.temporary.c_str(), &created, 0) == 0;
    if (made) {
        record.rootTag = cf::rootTagOf(root.path);
        record.device = created.st_dev;
        record.inode = created.st_ino;
        record.identity.assign(static_cast<const char*>(entry.FileIdentity), entry.FileIdentityLength);
        record.hydrated = isDirectory;
        record.inSync = entry.Flags & CF_PLACEHOLDER_CREATE_FLAG_MARK_IN_SYNC ? CF_IN_SYNC_STATE_IN_SYNC
                                                                              : CF_IN_SYNC_STATE_NOT_IN_SYNC;
        record.alwaysFull = entry.Flags & CF_PLACEHOLDER_CREATE_FLAG_ALWAYS_FULL;
        // The file queries report it from the record.
        record.creationTime = info.CreationTime.QuadPart ? info.CreationTime.QuadPart : fileTimeNow();
        record.usn = 1;
    }
    const std::string hidden = "/proc/self/fd/" + std::to_string(folder) + "/" + built.temporary;
    if (!made || !(fd >= 0 ? cf::writeNewRecord(fd, record)
                           : cf::writeRecord(cf::RecordFile{hidden, -1, record.device, record.inode}, record))) {
        const int error = errno;
        built.discard(folder);
        return cf::hrFromErrno(error);
    }
    return S_OK;
}

// Gives a built placeholder its name; it carries its record already.
HRESULT placeOne(const std::string& base, int folder, Built& built) {
    {
        // Named under its record's lock, the record goes on as the one this process wrote last.
        cf::RecordLock lock(built.record.device, built.record.inode);
        if (built.place(folder) != 0) {
            const int error = errno;
            return error == EEXIST ? cf::hrWin32(ERROR_ALREADY_EXISTS) : cf::hrFromErrno(error);
        }
        struct stat named {};
        if (built.descriptor() >= 0 && ::fstat(built.descriptor(), &named) == 0)
            cf::rememberWritten(built.record, named);
    }
    built.close();
    const auto& entry = *built.entry;
    if (entry.FsMetadata.BasicInfo.FileAttributes & kStoredAttributes) {
        const std::wstring windowsPath = toWindowsPath(base + "/" + built.name);
        SetFileAttributesW(windowsPath.c_str(), entry.FsMetadata.BasicInfo.FileAttributes & kStoredAttributes);
    }
    return S_OK;
}

// Whether what the filter mount reports of the item (size, mode, times) differs now from what it
// was when the call found it; unknown counts as changed.
bool attributesChanged(const cf::Item& item) {
    struct stat now {};
    if (statPath(item.access, now) != 0) return true;
    return now.st_size != item.st.st_size || now.st_mode != item.st.st_mode ||
           !sameTime(now.st_mtim, item.st.st_mtim) || !sameTime(now.st_atim, item.st.st_atim);
}

// Whether every byte of the file is on the disk: no hole in it, and flushed, so that the claim holds
// across a restart of the machine.
bool wholeAndFlushed(const std::string& accessPath) {
    const int fd = openPath(accessPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool whole = ::fstat(fd, &st) == 0 && (st.st_size == 0 || ::lseek(fd, 0, SEEK_HOLE) >= st.st_size);
    const bool flushed = whole && ::fdatasync(fd) == 0;
    ::close(fd);
    return flushed;
}

bool aligned(const CF_FILE_RANGE& range) {
    return range.StartingOffset.QuadPart >= 0 && range.StartingOffset.QuadPart % kPageSize == 0 &&
           (range.Length.QuadPart == CF_EOF || (range.Length.QuadPart > 0 && range.Length.QuadPart % kPageSize == 0));
}

// The folder a thread last made items in where it is reached directly, kept open: a client pushes
// a folder's files one call after another. It is taken again while its path still names it.
class RecentFolder {
public:
    ~RecentFolder() { forget(); }

    // A descriptor of the folder at `hostPath` (a provider's plain path), owned here; -1 when the
    // folder is not reached directly.
    int open(const std::string& hostPath) {
        if (fd_ >= 0 && path_ == hostPath && stillNamed()) return fd_;
        forget();
        const int fd = cf::openFolderPlainly(hostPath);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) ::close(fd);
            return -1;
        }
        path_ = hostPath;
        fd_ = fd;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        return fd_;
    }

private:
    bool stillNamed() const {
        int covered = -1;
        std::string rest;
        struct stat st {};
        return cf::providerCovered(path_, covered, rest) &&
               ::fstatat(covered, rest.empty() ? "." : rest.c_str() + 1, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(st.st_mode) && st.st_dev == device_ && st.st_ino == inode_;
    }
    void forget() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

    std::string path_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// The folder the entries are made in: its canonical path and a descriptor where it is reached
// directly. The provider's own plain paths are canonical as they are.
struct BaseFolder {
    explicit BaseFolder(const std::string& hostPath) {
        thread_local RecentFolder recent;
        fd = recent.open(hostPath);
        if (fd >= 0) {
            path = hostPath;
            return;
        }
        path = cf::canonicalPath(hostPath);
    }
    ~BaseFolder() {
        if (owned) ::close(fd);
    }
    BaseFolder(const BaseFolder&) = delete;
    BaseFolder& operator=(const BaseFolder&) = delete;

    bool open() {
        if (fd < 0) {
            fd = openPath(cf::directPath(path), O_PATH | O_DIRECTORY | O_CLOEXEC);
            owned = fd >= 0;
        }
        return fd >= 0;
    }

    std::string path;
    int fd = -1;
    bool owned = false;  // opened for this call (else the thread's recent folder)
};

}  // namespace

extern "C" HRESULT CfCreatePlaceholders(LPCWSTR BaseDirectoryPath, CF_PLACEHOLDER_CREATE_INFO* PlaceholderArray,
                                        DWORD PlaceholderCount, CF_CREATE_FLAGS, PDWORD EntriesProcessed) {
    BaseFolder base(BaseDirectoryPath ? toHostPath(std::wstring(BaseDirectoryPath)) : std::string());
    if (EntriesProcessed) *EntriesProcessed = 0;
    if (auto fault = faults::check("CfCreatePlaceholders", base.path)) return *fault;
    if (!BaseDirectoryPath || (PlaceholderCount && !PlaceholderArray)) return E_INVALIDARG;
    auto store = cf::CfStore::current();
    if (!store) return E_FAIL;
    auto root = store->rootContaining(base.path);
    if (!root) return cf::hrWin32(ERROR_CLOUD_FILE_NOT_UNDER_SYNC_ROOT);
    if (!base.open()) return cf::hrWin32(ERROR_PATH_NOT_FOUND);
    if (root->hydration.Primary == CF_HYDRATION_POLICY_ALWAYS_FULL) return cf::hrWin32(ERROR_CLOUD_FILE_NOT_SUPPORTED);

    HRESULT first = S_OK;
    DWORD processed = 0;
    for (; processed < PlaceholderCount; ++processed) {
        auto& entry = PlaceholderArray[processed];
        Built one;
        HRESULT hr = buildOne(*root, base.fd, entry, one);
        if (SUCCEEDED(hr)) hr = placeOne(base.path, base.fd, one);
        if (SUCCEEDED(hr)) {
            entry.Result = S_OK;
            entry.CreateUsn = one.record.usn;
            continue;
        }
        one.discard(base.fd);
        entry.Result = hr;
        if (SUCCEEDED(first)) first = hr;
    }
    if (EntriesProcessed) *EntriesProcessed = processed;
    return first;
}

extern "C" HRESULT CfConvertToPlaceholder(HANDLE FileHandle, LPCVOID FileIdentity, DWORD FileIdentityLength,
                                          CF_CONVERT_FLAGS ConvertFlags, USN* ConvertUsn, LPOVERLAPPED Overlapped) {
    (void)Overlapped;
    auto file = handleAs<FileObject>(FileHandle);
    if (auto fault = faults::check("CfConvertToPlaceholder", file ? file->path : std::string())) return *fault;
    std::shared_ptr<cf::CfStore> store;
    std::optional<cf::Item> item;
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::UnderRoot, store, item); FAILED(hr)) return hr;
    if (!validIdentity(FileIdentity, FileIdentityLength)) return E_INVALIDARG;
    if (!S_ISREG(item->st.st_mode) && !item->isDirectory()) return cf::hrWin32(ERROR_CLOUD_FILE_NOT_SUPPORTED);
    if (!item->isDirectory() && item->st.st_nlink > 1 && item->root->hardLink != CF_HARDLINK_POLICY_ALLOWED) {
        return cf::hrWin32(ERROR_CLOUD_FILE_INCOMPATIBLE_HARDLINKS);
    }
    const auto inSync = ConvertFlags & CF_CONVERT_FLAG_MARK_IN_SYNC
                            ? CF_IN_SYNC_STATE_IN_SYNC
                            : (item->record ? item->record->inSync : CF_IN_SYNC_STATE_NOT_IN_SYNC);

    cf::PlaceholderRecord record;
    if (item->record) {
        record = *item->record;
    } else {
        record = cf::newRecord(*item);
        // Its data may be only partly on the disk: what is missing comes from the cloud again.
        if (item->recordLost && !item->isDirectory()) record.hydrated = wholeAndFlushed(item->access);
    }
    record.identity.assign(static_cast<const char*>(FileIdentity), FileIdentityLength);
    record.inSync = inSync;
    record.usn += 1;
    if (!cf::writeRecord(cf::recordFileOf(*item), record)) return cf::hrFromErrno(errno);
    if (ConvertUsn) *ConvertUsn = record.usn;
    return S_OK;
}

extern "C" HRESULT CfUpdatePlaceholder(HANDLE FileHandle, const CF_FS_METADATA* FsMetadata, LPCVOID FileIdentity,
                                       DWORD FileIdentityLength, const CF_FILE_RANGE* DehydrateRangeArray,
                                       DWORD DehydrateRangeCount, CF_UPDATE_FLAGS UpdateFlags, USN* UpdateUsn,
                                       LPOVERLAPPED Overlapped) {
    (void)Overlapped;
    auto file = handleAs<FileObject>(FileHandle);
    if (auto fault = faults::check("CfUpdatePlaceholder", file ? file->path : std::string())) return *fault;
    std::shared_ptr<cf::CfStore> store;
    std::optional<cf::Item> item;
    if (HRESULT hr = cf::itemForCall(FileHandle, cf::ItemNeed::PlaceholderUnderRoot, store, item, true); FAILED(hr))
        return hr;
    const auto bothFullness = CF_UPDATE_FLAG_ALWAYS_FULL | CF_UPDATE_FLAG_ALLOW_PARTIAL;
    if ((UpdateFlags & bothFullness) == bothFullness) return cf::hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
    if (!validIdentity(FileIdentity, FileIdentityLength) || (DehydrateRangeCount && !DehydrateRangeArray)) {
        return E_INVALIDARG;
    }
    auto& record = *item->record;

    auto inSync = record.inSync;
    if (UpdateFlags & CF_UPDATE_FLAG_MARK_IN_SYNC) inSync = CF_IN_SYNC_STATE_IN_SYNC;
    bool alwaysFull = record.alwaysFull;
    if (UpdateFlags & CF_UPDATE_FLAG_ALWAYS_FULL) alwaysFull = true;
    if (UpdateFlags & CF_UPDATE_FLAG_ALLOW_PARTIAL) alwaysFull = false;

    // With DEHYDRATE the ranges are ignored; a single {0, CF_EOF} range means the whole file.
    std::vector<CF_FILE_RANGE> ranges;
    bool dehydrating = false;
    if (!item->isDirectory()) {
        if (UpdateFlags & CF_UPDATE_FLAG_DEHYDRATE) {
            dehydrating = true;
        } else if (DehydrateRangeCount) {
            for (DWORD i = 0; i < DehydrateRangeCount; ++i) {
                if (!aligned(DehydrateRangeArray[i])) return cf::hrWin32(ERROR_CLOUD_FILE_INVALID_REQUEST);
                ranges.push_back(DehydrateRangeArray[i]);
            }
            dehydrating = true;
        }
    }
    if (dehydrating) {
        if (HRESULT hr = cf::checkDehydration(*item, inSync, alwaysFull); FAILED(hr)) return hr;
    }

    std::int64_t newSize = item->st.st_size;
    if (FsMetadata && !item->isDirectory()) newSize = FsMetadata->FileSize.QuadPart;
    if (newSize < 0) return E_INVALIDARG;
    auto change = [&](cf::PlaceholderRecord& r) {
        if (FileIdentity) r.identity.assign(static_cast<const char*>(FileIdentity), FileIdentityLength);
        if (FsMetadata && FsMetadata->BasicInfo.CreationTime.QuadPart) {
            r.creationTime = FsMetadata->BasicInfo.CreationTime.QuadPart;
        }
        // Growing the file adds bytes that only the cloud has.
        if (newSize > item->st.st_size) r.hydrated = false;
        r.inSync = inSync;
        r.alwaysFull = alwaysFull;
    };
    // The item keeps the record as found: the dehydration goes by it.
    cf::PlaceholderRecord updated = record;
    const bool ok = cf::changeLockedRecord(cf::recordFileOf(*item), updated, [&](cf::PlaceholderRecord& r) {
        const cf::PlaceholderRecord before = r;
        change(r);
        return r.identity != before.identity || r.creationTime != before.creationTime || r.hydrated != before.hydrated ||
               r.inSync != before.inSync || r.alwaysFull != before.alwaysFull;
    });
    // The dehydration takes the lock again for its own change.
    item->lock.reset();
    if (!ok) return E_FAIL;
    if (newSize != item->st.st_size) {
        int fd = cf::openForWriting(item->access);
        if (fd < 0) return cf::hrFromErrno(errno);
        const int rc = ::ftruncate(fd, newSize);
        const int error = errno;
        ::close(fd);
        if (rc != 0) return cf::hrFromErrno(error);
    }
    // Times last: resizing the file would overwrite them.
    if (FsMetadata) {
        if (HRESULT hr = applyBasicInfo(item->access, item->path, FsMetadata->BasicInfo); FAILED(hr)) {
            return hr;
        }
        // The record now holds the creation time; one stored on the file earlier would hide it.
        if (FsMetadata->BasicInfo.CreationTime.QuadPart) ::removexattr(item->access.c_str(), kCreationTimeXattr);
    }
    if (dehydrating) {
        // What the dehydration keeps of the file (its size and times) is what the update left.
        if (newSize != item->st.st_size || FsMetadata) statPath(item->access, item->st);
        if (HRESULT hr = cf::dehydrate(*item, ranges, {}); FAILED(hr)) return hr;
    } else if (FsMetadata && attributesChanged(*item)) {
        // Readers through the filter mount see the new size and times at once, not what their
        // kernel cached a moment ago.
        cf::filterServiceCommand("changed " + item->path);
    }
    if (UpdateUsn) {
        // A dehydration counts as a change too.
        auto now = dehydrating ? cf::readRecord(cf::recordFileOf(*item)) : std::optional(updated);
        *UpdateUsn = now ? now->usn : 0;
    }
    return S_OK;
}
