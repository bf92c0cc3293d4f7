#pragma once
// The filter's callback threads: every posted callback runs at once on an idle thread or on a new
// one, because a provider may block a callback for a whole download while others must still arrive.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nimbrel::platform::cf {

class CallbackPool {
public:
    CallbackPool() = default;
    ~CallbackPool();
    CallbackPool(const CallbackPool&) = delete;
    CallbackPool& operator=(const CallbackPool&) = delete;

    // False once the pool is stopping.
    bool post(std::function<void()> task);
    // Refuses new tasks and waits until every running task has returned. Safe to call from one of
    // the pool's own threads (that thread is then not waited for).
    void stop();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    int idleThreads_ = 0;
    int busyThreads_ = 0;
    bool stopping_ = false;
};

}  // namespace nimbrel::platform::cf
