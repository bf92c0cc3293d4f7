#pragma once
// The event kernel object behind CreateEventW; registry watches signal it.

#include <condition_variable>
#include <mutex>

#include "platform/kernel_object.h"

namespace nimbrel::platform {

class EventObject : public KernelObject {
public:
    explicit EventObject(bool initialState) : signalled_(initialState) {}

    void set();
    void reset();
    // The event stays signalled for every waiter until it is reset.
    DWORD wait(DWORD milliseconds) override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_;
};

}  // namespace nimbrel::platform
