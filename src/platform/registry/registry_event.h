#pragma once
// The event kernel object behind CreateEventW; registry watches signal it.

#include <condition_variable>
#include <mutex>

#include "platform/kernel_object.h"

namespace nimbrel::platform {

class EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}

    void set();
    void reset();
    // A manual-reset event stays signalled for every waiter; an auto-reset one releases one waiter
    // and is reset by that wait.
    DWORD wait(DWORD milliseconds) override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const bool manualReset_;
    bool signalled_;
};

}  // namespace nimbrel::platform
