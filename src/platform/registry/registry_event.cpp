#include "registry_event.h"

#include <chrono>

#include "platform/win_error.h"
#include "platform/win_event.h"

namespace nimbrel::platform {

void EventObject::set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void EventObject::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

DWORD EventObject::wait(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    auto isSignalled = [this] { return signalled_; };
    if (milliseconds == INFINITE) {
        changed_.wait(lock, isSignalled);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled)) {
        return WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0;
}

}  // namespace nimbrel::platform

extern "C" HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
    if ((lpName && *lpName) || !bManualReset) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<nimbrel::platform::EventObject>(bInitialState != FALSE);
    SetLastError(ERROR_SUCCESS);
    return nimbrel::platform::registerHandle(std::move(event));
}

extern "C" BOOL ResetEvent(HANDLE hEvent) {
    auto event = nimbrel::platform::handleAs<nimbrel::platform::EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->reset();
    return TRUE;
}
