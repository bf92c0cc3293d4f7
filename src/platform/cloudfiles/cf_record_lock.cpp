#include "cf_record_lock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/platform_paths.h"

namespace nimbrel::platform::cf {

namespace {

struct LockTable {
    std::array<pthread_mutex_t, kRecordLocks> locks;
    // Added after the locks: a table an earlier build made is grown to hold it, and a new one
    // starts at zero like the file.
    std::atomic<std::uint64_t> folderChanges;
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "the count is shared between processes");

// Where the shared table cannot be had, only this process's changes are counted.
std::atomic<std::uint64_t> localFolderChanges{0};

// Sets up every lock of a table not yet shared.
bool setUp(LockTable& table) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0;
    for (auto& lock : table.locks) ok = ok && pthread_mutex_init(&lock, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

LockTable* mapTable(int fd) {
    void* mapped = ::mmap(nullptr, sizeof(LockTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return mapped == MAP_FAILED ? nullptr : static_cast<LockTable*>(mapped);
}

// The table at `path`, made under a passing name and given its own only once it is set up, so no
// process ever maps one that is not. A process that lost the race maps the winner's.
LockTable* openTable(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        std::string passing = path + ".XXXXXX";
        fd = ::mkostemp(passing.data(), O_CLOEXEC);
        if (fd < 0) return nullptr;
        LockTable* table = ::ftruncate(fd, sizeof(LockTable)) == 0 ? mapTable(fd) : nullptr;
        const bool ready = table && setUp(*table);
        if (table) ::munmap(table, sizeof(LockTable));
        const bool linked = ready && ::link(passing.c_str(), path.c_str()) == 0;
        const bool lost = ready && !linked && errno == EEXIST;
        ::unlink(passing.c_str());
        if (!linked) {
            ::close(fd);
            fd = lost ? ::open(path.c_str(), O_RDWR | O_CLOEXEC) : -1;
        }
    }
    if (fd < 0) return nullptr;
    struct ::stat st {};
    const bool sized =
        ::fstat(fd, &st) == 0 && (st.st_size >= static_cast<off_t>(sizeof(LockTable)) ||
                                  (st.st_size >= static_cast<off_t>(offsetof(LockTable, folderChanges)) &&
                                   ::ftruncate(fd, sizeof(LockTable)) == 0));
    LockTable* table = sized ? mapTable(fd) : nullptr;
    ::close(fd);
    return table;
}

// The table of the current platform home, mapped once per home for the life of the process.
LockTable* lockTable() {
    static std::mutex mutex;
    static std::map<std::string, LockTable*> tables;
    // Every record lock asks; a thread keeps the table it found last for its platform home.
    thread_local std::string lastHome;
    thread_local LockTable* lastTable = nullptr;
    const std::string& home = platformHome();
    if (lastTable && home == lastHome) return lastTable;
    std::lock_guard lock(mutex);
    auto [at, added] = tables.emplace(home + "/record-locks", nullptr);
    if (added) at->second = openTable(at->first);
    lastHome = home;
    lastTable = at->second;
    return at->second;
}

std::array<std::mutex, kRecordLocks>& localLocks() {
    static std::array<std::mutex, kRecordLocks> instance;
    return instance;
}

}  // namespace

std::size_t recordLockIndex(std::uint64_t device, std::uint64_t inode) {
    std::uint64_t hash = (device * 0x9E3779B97F4A7C15ULL) ^ inode;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return hash % kRecordLocks;
}

std::uint64_t folderRecordChanges() {
    LockTable* table = lockTable();
    return (table ? table->folderChanges : localFolderChanges).load(std::memory_order_acquire);
}

void countFolderRecordChange() {
    LockTable* table = lockTable();
    (table ? table->folderChanges : localFolderChanges).fetch_add(1, std::memory_order_release);
}

RecordLock::RecordLock(std::uint64_t device, std::uint64_t inode) {
    const std::size_t index = recordLockIndex(device, inode);
    if (LockTable* table = lockTable()) {
        pthread_mutex_t* lock = &table->locks[index];
        const int taken = pthread_mutex_lock(lock);
        // The process that held it ended: a record is written in one call, so it is whole.
        if (taken == EOWNERDEAD) pthread_mutex_consistent(lock);
        if (taken == 0 || taken == EOWNERDEAD) {
            shared_ = lock;
            return;
        }
    }
    local_ = &localLocks()[index];
    local_->lock();
}

RecordLock::~RecordLock() {
    if (shared_) pthread_mutex_unlock(shared_);
    if (local_) local_->unlock();
}

}  // namespace nimbrel::platform::cf
