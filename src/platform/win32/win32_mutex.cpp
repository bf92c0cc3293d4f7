// Mutexes as Nimbrel uses them: a name that tells a second server that one is already running. A
// named mutex is machine-wide within the runtime folder: every process that has it open holds a
// shared lock on "mutex-<name>.lock", so the name exists while any process has a handle. Nimbrel
// never owns a mutex (it neither asks for initial ownership nor waits on one), so nothing here
// keeps an owner: initial ownership is refused and ReleaseMutex always answers ERROR_NOT_OWNER.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/kernel_object.h"
#include "platform/platform_paths.h"
#include "platform/win_error.h"
#include "platform/win_sync.h"
#include "win32_errno.h"

namespace {

namespace p = nimbrel::platform;

// This process's hold on one name; shared by all its handles of that name.
struct MutexName {
    ~MutexName() {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
};

// A handle keeps this process's hold on its name (none for an unnamed mutex).
struct MutexObject : p::KernelObject {
    std::shared_ptr<MutexName> name;
};

// The names this process has open, so a second CreateMutexW in the same process finds the same one.
std::mutex registryMutex;
std::map<std::string, std::weak_ptr<MutexName>>& openNames() {
    static auto* names = new std::map<std::string, std::weak_ptr<MutexName>>;
    return *names;
}

// Opens the name across processes; `created` tells whether no process had it.
std::shared_ptr<MutexName> openName(const std::string& folder, const std::string& key, bool& created) {
    int guard = ::open((folder + "/mutexes.guard").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (guard < 0) return nullptr;
    ::flock(guard, LOCK_EX);  // one creator at a time decides who came first
    auto name = std::make_shared<MutexName>();
    name->fd = ::open((folder + "/mutex-" + key + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    bool ok = name->fd >= 0;
    if (ok) {
        created = ::flock(name->fd, LOCK_EX | LOCK_NB) == 0;
        ok = ::flock(name->fd, LOCK_SH) == 0;
    }
    int error = errno;
    ::close(guard);
    if (!ok) {
        p::setLastErrorFromErrno(error);
        return nullptr;
    }
    return name;
}

}  // namespace

extern "C" HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    if (initialOwner) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<MutexName> held;
    bool created = true;
    if (name && *name) {
        const std::string key = p::runtimeDir() + "\n" + p::objectFileName(name);
        std::lock_guard lock(registryMutex);
        auto& names = openNames();
        held = names[key].lock();
        if (held) {
            created = false;
        } else {
            held = openName(p::runtimeDir(), p::objectFileName(name), created);
            if (!held) return nullptr;
            names[key] = held;
        }
    }
    auto object = std::make_shared<MutexObject>();
    object->name = std::move(held);
    HANDLE handle = p::registerHandle(std::move(object));
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

extern "C" BOOL ReleaseMutex(HANDLE mutex) {
    SetLastError(p::handleAs<MutexObject>(mutex) ? ERROR_NOT_OWNER : ERROR_INVALID_HANDLE);
    return FALSE;
}
