#pragma once
// The worker threads that run serial queues and the global queue. A task that finds no idle
// worker starts a new one, so blocks that wait for a long time never starve the others;
// workers idle for a while beyond a few end.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace telvo::dispatch::detail {

class Pool {
public:
    static Pool& instance();
    void submit(std::function<void()> task);
    // Runs one waiting task on the calling thread, if there is one.
    bool runOne();
    int threadCount();

private:
    Pool() = default;
    void workerMain();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    std::atomic<long> queued_{0};  // tasks_.size(), readable without the lock
    int idle_ = 0;
    int threads_ = 0;
};

}  // namespace telvo::dispatch::detail
