#pragma once
// The worker threads that run serial queues and the global queue. Up to four (fewer on a
// machine with fewer processors) start as work arrives; beyond that a watcher adds workers
// in two cases: a worker waits inside the dispatch layer (a sync, a semaphore, a group), for
// which another worker stands in at once, or waiting tasks made no progress for a quarter of a second
// (every worker blocked elsewhere). Blocks that wait never starve the others, while a storm
// of short tasks does not multiply threads. Workers idle for a few seconds beyond a couple
// end.
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
    // Workers started as work arrives, not counting those blocked in a wait.
    static int softLimit();

    // Marks the calling thread, if it is a worker, as waiting inside the dispatch layer for
    // as long as it lives.
    class BlockingScope {
    public:
        BlockingScope();
        ~BlockingScope();
        BlockingScope(const BlockingScope&) = delete;
        BlockingScope& operator=(const BlockingScope&) = delete;

    private:
        bool counted_;
    };

private:
    Pool() = default;
    void workerMain();
    void watcherMain();
    void spawnLocked();
    bool needsWorkerLocked() const;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable watcherCv_;
    std::deque<std::function<void()>> tasks_;
    unsigned long started_ = 0;    // tasks taken by workers so far
    int idle_ = 0;
    int threads_ = 0;
    int blocked_ = 0;  // workers waiting in a BlockingScope
    bool watcherRunning_ = false;
};

}  // namespace telvo::dispatch::detail
