#include "cf_callback_pool.h"

#include <algorithm>

namespace nimbrel::platform::cf {

namespace {

thread_local const CallbackPool* currentPool = nullptr;

}  // namespace

CallbackPool::~CallbackPool() { stop(); }

bool CallbackPool::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    queue_.push_back(std::move(task));
    if (idleThreads_ >= static_cast<int>(queue_.size())) {
        wake_.notify_one();
    } else {
        threads_.emplace_back([this] { run(); });
    }
    return true;
}

void CallbackPool::run() {
    currentPool = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idleThreads_;
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        --idleThreads_;
        if (queue_.empty()) return;
        auto task = std::move(queue_.front());
        queue_.erase(queue_.begin());
        ++busyThreads_;
        lock.unlock();
        task();
        lock.lock();
        --busyThreads_;
        idle_.notify_all();
    }
}

void CallbackPool::stop() {
    std::vector<std::thread> threads;
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        const int self = currentPool == this ? 1 : 0;
        idle_.wait(lock, [&] { return queue_.empty() && busyThreads_ <= self; });
        threads.swap(threads_);
    }
    for (auto& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else if (thread.joinable()) {
            thread.join();
        }
    }
}

}  // namespace nimbrel::platform::cf
