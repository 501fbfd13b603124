#include "platform/dispatch/detail/Pool.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include "platform/dispatch/detail/MainQueue.h"
#include "platform/dispatch/detail/Threads.h"

namespace telvo::dispatch::detail {

namespace {
constexpr int kKeptIdle = 2;
constexpr int kMaxThreads = 1024;
constexpr auto kIdleExit = std::chrono::seconds(3);
// How long waiting tasks may see no worker take one before the watcher adds workers, and
// how many it adds at a time.
constexpr auto kStallInterval = std::chrono::milliseconds(250);
constexpr int kAddedPerStall = 4;
const std::string kWorkerName = "telvo-worker";
thread_local bool isWorker = false;
}  // namespace

Pool::BlockingScope::BlockingScope() : counted_(isWorker) {
    MainQueue::WakeBatch::beforeBlocking();
    if (!counted_) return;
    Pool& pool = instance();
    std::lock_guard<std::mutex> lock(pool.mutex_);
    ++pool.blocked_;
    if (pool.needsWorkerLocked()) pool.spawnLocked();
}

Pool::BlockingScope::~BlockingScope() {
    if (!counted_) return;
    Pool& pool = instance();
    std::lock_guard<std::mutex> lock(pool.mutex_);
    --pool.blocked_;
}

bool Pool::needsWorkerLocked() const {
    return static_cast<int>(tasks_.size()) > idle_ && threads_ - blocked_ < softLimit() && threads_ < kMaxThreads;
}

Pool& Pool::instance() {
    static Pool* pool = new Pool();
    return *pool;
}

int Pool::softLimit() {
    // Enough for the daemon's short blocks on a few processors; blocks that wait get more.
    static const int limit = std::clamp(int(std::thread::hardware_concurrency()), 2, 4);
    return limit;
}

void Pool::spawnLocked() {
    ++threads_;
    ++idle_;  // counted as idle until it takes its first task
    startThread(kWorkerName, [this] { workerMain(); });
}

void Pool::submit(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        if (needsWorkerLocked()) {
            spawnLocked();
            return;
        }
        if (static_cast<int>(tasks_.size()) > idle_) {
            // Every worker is busy: the watcher makes sure they are not all stuck.
            if (!watcherRunning_) {
                watcherRunning_ = true;
                startThread("telvo-watcher", [this] { watcherMain(); });
            } else {
                watcherCv_.notify_one();
            }
        }
    }
    // Told after the lock is released, so that the worker woken does not block on it at once.
    cv_.notify_one();
}

void Pool::watcherMain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        watcherCv_.wait(lock, [this] { return !tasks_.empty(); });
        unsigned long seen = started_;
        watcherCv_.wait_for(lock, kStallInterval);
        if (tasks_.empty() || started_ != seen || idle_ > 0) continue;
        // Tasks waited a whole interval and no worker took one: all are blocked outside the
        // dispatch layer.
        int add = std::min({kAddedPerStall, static_cast<int>(tasks_.size()), kMaxThreads - threads_});
        for (int i = 0; i < add; ++i) spawnLocked();
    }
}

bool Pool::runOne() {
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tasks_.empty()) return false;
        task = std::move(tasks_.front());
        tasks_.pop_front();
        ++started_;
    }
    task();
    return true;
}

int Pool::threadCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
}

void Pool::workerMain() {
    isWorker = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (tasks_.empty()) {
            // A worker that ran out of tasks sleeps at once: with many sockets' queues served
            // here, spinning for the next one cost more in yields than the wake-ups it saved.
            bool woke = cv_.wait_for(lock, kIdleExit, [this] { return !tasks_.empty(); });
            if (!woke && idle_ > kKeptIdle) {
                --idle_;
                --threads_;
                return;
            }
            continue;
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        ++started_;
        --idle_;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        ++idle_;
    }
}

}  // namespace telvo::dispatch::detail
