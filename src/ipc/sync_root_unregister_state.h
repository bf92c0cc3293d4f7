#pragma once
// One background unregistration of a root: the unmount job runs its synchronous steps while a
// detached thread runs CfUnregisterSyncRoot. The root stays pending until both have finished,
// whichever ends last.

#include <future>
#include <mutex>
#include <string>

#include "platform/win_types.h"

class SyncRootUnregisterState {
public:
    explicit SyncRootUnregisterState(std::wstring rootKey);

    // The background thread's result, for the unmount job's bounded wait.
    std::shared_future<HRESULT> result() const { return result_; }
    void setResult(HRESULT hr);

    void markSyncFinished();
    void markBackgroundFinished();

private:
    // Sets `part`; the part that finishes second takes the root off the pending list.
    void finish(bool& part);

    const std::wstring rootKey_;
    std::promise<HRESULT> promise_;
    std::shared_future<HRESULT> result_;
    std::mutex mutex_;
    bool syncFinished_ = false;
    bool backgroundFinished_ = false;
};
