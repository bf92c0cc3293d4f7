#include "ipc/sync_root_unregister_state.h"

#include "ipc/sync_root_unregister_registry.h"

SyncRootUnregisterState::SyncRootUnregisterState(std::wstring rootKey)
    : rootKey_(std::move(rootKey)), result_(promise_.get_future().share()) {}

void SyncRootUnregisterState::setResult(HRESULT hr) { promise_.set_value(hr); }

void SyncRootUnregisterState::markSyncFinished() { finish(syncFinished_); }

void SyncRootUnregisterState::markBackgroundFinished() { finish(backgroundFinished_); }

void SyncRootUnregisterState::finish(bool& part) {
    bool both = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        part = true;
        both = syncFinished_ && backgroundFinished_;
    }
    // The registry's mutex is never taken under another lock.
    if (both) SyncRootUnregisterRegistry::instance().clearPending(rootKey_);
}
