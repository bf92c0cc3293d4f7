#include "platform/kernel_object.h"

#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/win_error.h"
#include "platform/win_handle.h"

namespace nimbrel::platform {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<HANDLE, std::shared_ptr<KernelObject>> objects;
    // Handle values grow in steps of 4 like Windows handles and never reach the pseudo-handles.
    std::uintptr_t next = 0x100;
};

HandleTable& table() {
    static auto* instance = new HandleTable;  // outlives every static destructor that may close handles
    return *instance;
}

}  // namespace

FileObject::~FileObject() {
    if (fd >= 0) ::close(fd);
}

HANDLE registerHandle(std::shared_ptr<KernelObject> object) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto handle = reinterpret_cast<HANDLE>(t.next);
    t.next += 4;
    t.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(handle);
    return it == t.objects.end() ? nullptr : it->second;
}

bool releaseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;  // destroyed outside the lock
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(handle);
    if (it == t.objects.end()) return false;
    released = std::move(it->second);
    t.objects.erase(it);
    return true;
}

}  // namespace nimbrel::platform

extern "C" BOOL CloseHandle(HANDLE handle) {
    if (!nimbrel::platform::releaseHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
