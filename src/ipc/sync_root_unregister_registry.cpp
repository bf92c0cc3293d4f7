#include "ipc/sync_root_unregister_registry.h"

#include "suite/base/winpath.h"

namespace {

// Shorter keys are drive roots ("C:\"), whose separator is part of the name.
constexpr int kMinimumKeyLength = 4;

}  // namespace

SyncRootUnregisterRegistry& SyncRootUnregisterRegistry::instance() {
    static SyncRootUnregisterRegistry* registry = new SyncRootUnregisterRegistry;
    return *registry;
}

std::wstring SyncRootUnregisterRegistry::rootKey(const QString& path) {
    QString key = winpath::cleanPath(path).replace('/', '\\');
    while (key.size() >= kMinimumKeyLength && key.endsWith('\\')) key.chop(1);
    return key.toStdWString();
}

bool SyncRootUnregisterRegistry::markPending(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.insert(key).second;
}

void SyncRootUnregisterRegistry::clearPending(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(key);
    changed_.notify_all();
}

bool SyncRootUnregisterRegistry::isPending(const std::wstring& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.count(key) != 0;
}

void SyncRootUnregisterRegistry::waitWhilePending(const std::wstring& key) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return pending_.count(key) == 0; });
}
