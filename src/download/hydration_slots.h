#pragma once
// The limit of two hydration downloads at a time: a counting semaphore whose callers never block
// in it, so that a waiting hydration can keep its transfer alive between attempts.

#include <mutex>

class HydrationSlots {
public:
    explicit HydrationSlots(int slots);

    // Takes a slot when one is free; answers false at once otherwise.
    bool tryAcquire();
    // Returns a slot; never raises the count above the number of slots.
    void release();
    int available();

private:
    std::mutex mutex_;
    int count_;
    const int max_;
};

extern HydrationSlots hydrationSlots;
