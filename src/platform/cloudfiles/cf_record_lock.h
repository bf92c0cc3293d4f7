#pragma once
// The lock that serializes the changes of one file's record across the threads and processes that
// change records. The locks are process-shared robust mutexes in one file of the platform home,
// mapped by every process: taking and releasing one costs no system call while nobody else holds
// it, and one that a process ended while holding passes on to the next taker. A lock is chosen by
// the file's device and inode, so two files may share one: a thread holds one at a time.

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace nimbrel::platform::cf {

inline constexpr std::size_t kRecordLocks = 256;

// The lock a file's device and inode choose.
std::size_t recordLockIndex(std::uint64_t device, std::uint64_t inode);

// How many times a folder's record was written or removed, by any process that shares the record
// locks: a folder record read when the count was N is still the folder's record while it is N.
std::uint64_t folderRecordChanges();
// Counts one more, right after a folder's record was written or removed.
void countFolderRecordChange();

class RecordLock {
public:
    RecordLock(std::uint64_t device, std::uint64_t inode);
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

private:
    pthread_mutex_t* shared_ = nullptr;
    // Where the shared locks cannot be had, only the threads of this process are kept apart.
    std::mutex* local_ = nullptr;
};

}  // namespace nimbrel::platform::cf
