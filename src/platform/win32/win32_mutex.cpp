// Mutexes. A named mutex is machine-wide within the runtime folder: every process that has it open
// holds a shared lock on "mutex-<name>.lock" (so the name exists while any process has a handle),
// and ownership is an exclusive lock on "mutex-<name>.owner". Threads of one process share one
// core per name, which tracks the owning thread and its recursion count as Windows does.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/kernel_object.h"
#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_sync.h"
#include "win32_errno.h"

namespace {

namespace p = nimbrel::platform;
using Clock = std::chrono::steady_clock;

pid_t currentThread() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

class MutexCore {
public:
    ~MutexCore() {
        if (ownerFd >= 0) ::close(ownerFd);
        if (nameFd >= 0) ::close(nameFd);
    }

    DWORD acquire(DWORD milliseconds) {
        auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        std::unique_lock lock(mutex_);
        pid_t self = currentThread();
        if (owner_ == self) {
            ++recursion_;
            return WAIT_OBJECT_0;
        }
        auto free = [&] { return owner_ == 0; };
        if (milliseconds == INFINITE) {
            changed_.wait(lock, free);
        } else if (!changed_.wait_until(lock, deadline, free)) {
            return WAIT_TIMEOUT;
        }
        owner_ = self;  // reserved against the other threads while the other processes are asked
        lock.unlock();
        bool got = acquireAcrossProcesses(milliseconds, deadline);
        lock.lock();
        if (!got) {
            owner_ = 0;
            changed_.notify_one();
            return WAIT_TIMEOUT;
        }
        recursion_ = 1;
        return recordOwner(::getpid()) ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool release() {
        std::lock_guard lock(mutex_);
        if (owner_ != currentThread()) return false;
        if (--recursion_ == 0) {
            recordOwner(0);
            if (ownerFd >= 0) ::flock(ownerFd, LOCK_UN);
            owner_ = 0;
            changed_.notify_one();
        }
        return true;
    }

    int nameFd = -1;   // shared lock: this process has the name open
    int ownerFd = -1;  // exclusive lock while a thread of this process owns the mutex

private:
    // The owner file holds the owning process id while the mutex is owned. Finding another id there
    // on acquisition means that process ended without releasing it: the mutex was abandoned.
    bool recordOwner(pid_t pid) {
        if (ownerFd < 0) return false;
        pid_t previous = 0;
        bool abandoned =
            pid != 0 && ::pread(ownerFd, &previous, sizeof previous, 0) == sizeof previous && previous != 0;
        ssize_t written = ::pwrite(ownerFd, &pid, sizeof pid, 0);
        (void)written;  // a lost record only loses the abandoned report
        return abandoned;
    }

    bool acquireAcrossProcesses(DWORD milliseconds, Clock::time_point deadline) {
        if (ownerFd < 0) return true;
        if (milliseconds == INFINITE) {
            while (::flock(ownerFd, LOCK_EX) != 0) {
                if (errno != EINTR) return false;
            }
            return true;
        }
        // flock has no time-out: poll until the deadline.
        for (;;) {
            if (::flock(ownerFd, LOCK_EX | LOCK_NB) == 0) return true;
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    pid_t owner_ = 0;
    int recursion_ = 0;
};

class MutexObject : public p::KernelObject {
public:
    explicit MutexObject(std::shared_ptr<MutexCore> core) : core_(std::move(core)) {}
    DWORD wait(DWORD milliseconds) override { return core_->acquire(milliseconds); }
    MutexCore& core() { return *core_; }

private:
    std::shared_ptr<MutexCore> core_;
};

// The cores of the names this process has open, so a second CreateMutexW in the same process
// finds the same mutex.
std::mutex registryMutex;
std::map<std::string, std::weak_ptr<MutexCore>>& openNames() {
    static auto* names = new std::map<std::string, std::weak_ptr<MutexCore>>;
    return *names;
}

// Opens the name across processes; `created` tells whether no process had it.
std::shared_ptr<MutexCore> openNamedCore(const std::string& folder, const std::string& key, bool& created) {
    std::string base = folder + "/mutex-" + key;
    int guard = ::open((folder + "/mutexes.guard").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (guard < 0) return nullptr;
    ::flock(guard, LOCK_EX);  // one creator at a time decides who came first
    auto core = std::make_shared<MutexCore>();
    core->nameFd = ::open((base + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    core->ownerFd = ::open((base + ".owner").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    bool ok = core->nameFd >= 0 && core->ownerFd >= 0;
    if (ok) {
        created = ::flock(core->nameFd, LOCK_EX | LOCK_NB) == 0;
        ok = ::flock(core->nameFd, LOCK_SH) == 0;
    }
    int error = errno;
    ::close(guard);
    if (!ok) {
        p::setLastErrorFromErrno(error);
        return nullptr;
    }
    return core;
}

}  // namespace

extern "C" HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    std::shared_ptr<MutexCore> core;
    bool created = true;
    if (!name || !*name) {
        core = std::make_shared<MutexCore>();
    } else {
        std::string folder = p::runtimeDir();
        std::string key = p::objectFileName(name);
        std::lock_guard lock(registryMutex);
        auto& names = openNames();
        core = names[folder + "\n" + key].lock();
        if (core) {
            created = false;
        } else {
            core = openNamedCore(folder, key, created);
            if (!core) return nullptr;
            names[folder + "\n" + key] = core;
        }
    }
    // Only the creator takes initial ownership; an existing mutex ignores the request.
    if (created && initialOwner) core->acquire(INFINITE);
    HANDLE handle = p::registerHandle(std::make_shared<MutexObject>(std::move(core)));
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

extern "C" BOOL ReleaseMutex(HANDLE mutex) {
    auto object = p::handleAs<MutexObject>(mutex);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->core().release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
