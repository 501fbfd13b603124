#pragma once
// The worker threads that run serial queues and the global queue. Up to four (fewer on a
// machine with fewer processors) start as work arrives; beyond that a watcher adds workers
// only while waiting tasks make no progress (every worker blocked), so blocks that wait for a
// long time never starve the others while a storm of short tasks does not multiply threads.
// Workers idle for a few seconds beyond a couple end.
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
    // Workers started as work arrives, before the watcher has to add more.
    static int softLimit();

private:
    Pool() = default;
    void workerMain();
    void watcherMain();
    void spawnLocked();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable watcherCv_;
    std::deque<std::function<void()>> tasks_;
    std::atomic<long> queued_{0};  // tasks_.size(), readable without the lock
    unsigned long started_ = 0;    // tasks taken by workers so far
    int idle_ = 0;
    int threads_ = 0;
    bool watcherRunning_ = false;
};

}  // namespace telvo::dispatch::detail
