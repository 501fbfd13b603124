#pragma once
// The main queue: its blocks run on the thread that drives MainLoop, one at a time.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/detail/Context.h"

namespace telvo::dispatch::detail {

class MainQueue final : public Queue {
public:
    static MainQueue& instance();
    static QueuePtr shared();

    void async(Block block) override;
    // From another thread: waits until the main thread has run the block. From the main
    // thread outside any main-queue block: runs the blocks queued before it, then the block.
    void sync(const Block& block) override;
    void suspend() override;
    void resume() override;

    // Runs the next block if one may run now; answers whether one ran.
    bool runOne();
    // Waits until a block may run, until the rest of the process has gone idle (when
    // `untilIdle`), or until `deadline`. Answers true when a block may run.
    bool wait(bool untilIdle, std::optional<std::chrono::steady_clock::time_point> deadline);
    bool runnable();
    // See MainLoop::currentBlockNumber().
    static uint64_t currentBlockNumber();
    // See MainLoop::blocksStarted().
    static uint64_t blocksStarted();
    void wake();
    void setWakeHandler(std::function<void()> handler);
    size_t queuedCount() { return queued_.load(std::memory_order_acquire); }
    // Drops every queued block (tests); answers how many.
    size_t clear();

    // Only the one instance behind instance() exists.
    MainQueue();

    // While one lives on a thread, blocks that thread queues with async wake the main thread
    // only when the scope ends: the event thread queues a session's block and finishes its
    // turn before the main thread, woken at once, would take its processor from it.
    class WakeBatch {
    public:
        WakeBatch();
        ~WakeBatch();
        WakeBatch(const WakeBatch&) = delete;
        WakeBatch& operator=(const WakeBatch&) = delete;
        // A thread about to wait inside the dispatch layer wakes the main thread first for
        // what its batch queued: the wait may be for one of those blocks.
        static void beforeBlocking();

    private:
        static void wakeNow();
    };

private:
    struct SyncState {
        const Block* block = nullptr;
        Chain chain;
        bool done = false;
    };
    struct Item {
        Block block;
        std::shared_ptr<SyncState> sync;
    };
    bool runnableLocked() const { return suspendCount_ == 0 && !items_.empty(); }
    // Wakes the main thread for queued blocks, now or at the end of the thread's batch.
    void notifyQueued(const std::shared_ptr<std::function<void()>>& handler, bool now);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable syncDone_;
    std::deque<Item> items_;
    int suspendCount_ = 0;
    std::atomic<size_t> queued_{0};  // items_.size(), readable without the lock
    std::atomic<int> sleepers_{0};  // threads inside wait() for idleness, so that wake() may skip the lock
    std::shared_ptr<std::function<void()>> wakeHandler_;  // guarded by mutex_
};

}  // namespace telvo::dispatch::detail
