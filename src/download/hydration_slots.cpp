#include "download/hydration_slots.h"

HydrationSlots hydrationSlots(2);

HydrationSlots::HydrationSlots(int slots) : count_(slots), max_(slots) {}

bool HydrationSlots::tryAcquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ < 1) return false;
    --count_;
    return true;
}

void HydrationSlots::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ < max_) ++count_;
}

int HydrationSlots::available() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}
