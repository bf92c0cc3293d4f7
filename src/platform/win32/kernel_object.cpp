#include "platform/kernel_object.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/win_error.h"
#include "platform/win_handle.h"

namespace nimbrel::platform {

namespace {

// The open handles, spread over a few maps by value: handles made one after another land in
// different ones, so threads working at once seldom wait for each other's lookups.
struct alignas(64) HandleShard {
    std::mutex mutex;
    std::map<HANDLE, std::shared_ptr<KernelObject>> objects;
};

constexpr std::size_t kShards = 16;

struct HandleTable {
    std::array<HandleShard, kShards> shards;
    // Handle values grow in steps of 4 like Windows handles and never reach the pseudo-handles.
    std::atomic<std::uintptr_t> next{0x100};
};

HandleTable& table() {
    static auto* instance = new HandleTable;  // outlives every static destructor that may close handles
    return *instance;
}

HandleShard& shardOf(HANDLE handle) {
    return table().shards[(reinterpret_cast<std::uintptr_t>(handle) >> 2) % kShards];
}

}  // namespace

FileObject::~FileObject() {
    if (fd >= 0) ::close(fd);
}

HANDLE registerHandle(std::shared_ptr<KernelObject> object) {
    auto handle = reinterpret_cast<HANDLE>(table().next.fetch_add(4));
    HandleShard& shard = shardOf(handle);
    std::lock_guard lock(shard.mutex);
    shard.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
    HandleShard& shard = shardOf(handle);
    std::lock_guard lock(shard.mutex);
    auto it = shard.objects.find(handle);
    return it == shard.objects.end() ? nullptr : it->second;
}

bool releaseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;  // destroyed outside the lock
    HandleShard& shard = shardOf(handle);
    std::lock_guard lock(shard.mutex);
    auto it = shard.objects.find(handle);
    if (it == shard.objects.end()) return false;
    released = std::move(it->second);
    shard.objects.erase(it);
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
