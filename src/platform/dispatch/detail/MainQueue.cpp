#include "platform/dispatch/detail/MainQueue.h"
#include "platform/dispatch/detail/Pool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>
#include "platform/dispatch/detail/Activity.h"
#include "platform/dispatch/detail/QueueAccess.h"

namespace telvo::dispatch::detail {

namespace {
// The number of the main-queue block running on this thread (0: none).
thread_local uint64_t runningBlock = 0;
std::atomic<uint64_t> blocksStarted{0};

// Numbers the block for the length of the scope.
class BlockNumberScope {
public:
    BlockNumberScope() : saved_(runningBlock) { runningBlock = blocksStarted.fetch_add(1, std::memory_order_seq_cst) + 1; }
    ~BlockNumberScope() { runningBlock = saved_; }

private:
    uint64_t saved_;
};

// Open WakeBatch scopes on this thread, and whether a block was queued within them.
thread_local int wakeBatches = 0;
thread_local bool wakeDeferred = false;

// The queue object lives for the whole process; the shared pointer never frees it.
QueuePtr& holder() {
    static QueuePtr* queue = new QueuePtr(std::shared_ptr<MainQueue>(new MainQueue(), [](MainQueue*) {}));
    return *queue;
}
}  // namespace

MainQueue::MainQueue() : Queue("com.telvo.main-thread", true) { QueueAccess::initialise(*this); }

MainQueue& MainQueue::instance() { return static_cast<MainQueue&>(*holder()); }
QueuePtr MainQueue::shared() { return holder(); }

void MainQueue::async(Block block) {
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(Item{std::move(block), nullptr});
        queued_.store(items_.size(), std::memory_order_release);
        handler = wakeHandler_;
    }
    notifyQueued(handler, false);
}

void MainQueue::notifyQueued(const std::shared_ptr<std::function<void()>>& handler, bool now) {
    if (!now && wakeBatches > 0) {
        wakeDeferred = true;
        return;
    }
    // Told after the lock is released: a sleeper woken inside it would only block on the
    // lock and be woken a second time.
    cv_.notify_all();
    if (handler) (*handler)();
}

MainQueue::WakeBatch::WakeBatch() { ++wakeBatches; }

MainQueue::WakeBatch::~WakeBatch() {
    if (--wakeBatches == 0) wakeNow();
}

void MainQueue::WakeBatch::beforeBlocking() {
    if (wakeBatches > 0) wakeNow();
}

void MainQueue::WakeBatch::wakeNow() {
    if (!std::exchange(wakeDeferred, false)) return;
    MainQueue& queue = instance();
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard<std::mutex> lock(queue.mutex_);
        handler = queue.wakeHandler_;
    }
    queue.notifyQueued(handler, true);
}

void MainQueue::setWakeHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeHandler_ = handler ? std::make_shared<std::function<void()>>(std::move(handler)) : nullptr;
}

void MainQueue::sync(const Block& block) {
    auto& chain = currentChain();
    if (std::find(chain.begin(), chain.end(), this) != chain.end()) {
        std::fprintf(stderr, "dispatch: sync onto the main queue from a block it is running\n");
        std::abort();
    }
    auto state = std::make_shared<SyncState>();
    state->block = &block;
    state->chain = chain;
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(Item{Block(), state});
        queued_.store(items_.size(), std::memory_order_release);
        handler = wakeHandler_;
    }
    // A caller that waits wakes the main thread at once, and with it whatever its batch queued.
    cv_.notify_all();
    if (wakeBatches > 0) wakeDeferred = false;
    if (handler && !isMainThread()) (*handler)();
    if (isMainThread()) {
        // This thread drives the main queue and runs none of its blocks now: run the
        // earlier blocks, then ours.
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (state->done) return;
            }
            if (!runOne()) wait(false, std::nullopt);
        }
    }
    Pool::BlockingScope blocking;
    std::unique_lock<std::mutex> lock(mutex_);
    syncDone_.wait(lock, [&] { return state->done; });
}

void MainQueue::suspend() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++suspendCount_;
}

void MainQueue::resume() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (suspendCount_ == 0 || --suspendCount_ > 0) return;
    }
    cv_.notify_all();
}

bool MainQueue::runOne() {
    Item item;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!runnableLocked()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        queued_.store(items_.size(), std::memory_order_release);
    }
    BlockNumberScope number;
    if (item.sync) {
        Chain chain = item.sync->chain;
        chain.push_back(this);
        {
            ChainScope scope(std::move(chain));
            (*item.sync->block)();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        item.sync->done = true;
        syncDone_.notify_all();
    } else {
        ChainScope scope(Chain{this});
        item.block();
    }
    return true;
}

uint64_t MainQueue::currentBlockNumber() { return runningBlock; }

uint64_t MainQueue::blocksStarted() { return detail::blocksStarted.load(std::memory_order_seq_cst); }

bool MainQueue::runnable() {
    std::lock_guard<std::mutex> lock(mutex_);
    return runnableLocked();
}

bool MainQueue::wait(bool untilIdle, std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (untilIdle) {
        // Work handed to a worker often comes straight back: look for a short while
        // before sleeping.
        auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (queued_.load(std::memory_order_acquire) == 0 && activity() != 0 &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // Counted before the idle check: an activityEnd() after it sees us and takes the lock.
    // Only a wait for idleness is counted: the end of an activity means nothing to the others,
    // and waking them for it would cost the main loop a wake-up for every block run anywhere.
    if (untilIdle) sleepers_.fetch_add(1, std::memory_order_seq_cst);
    auto ready = [&] { return runnableLocked() || (untilIdle && activity() == 0); };
    if (deadline) {
        cv_.wait_until(lock, *deadline, ready);
    } else {
        // No time slice: every change that makes `ready` true is made under the lock and told
        // (async, sync, resume), or, for the end of the last activity, told after seeing this
        // sleeper counted (wake), so an idle process sleeps here until there is work.
        cv_.wait(lock, ready);
    }
    if (untilIdle) sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    return runnableLocked();
}

void MainQueue::wake() {
    if (sleepers_.load(std::memory_order_seq_cst) == 0) return;
    // Taken and released: a sleeper counted has reached its wait by then, and hears this.
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
}

size_t MainQueue::clear() {
    std::deque<Item> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Waiting syncs are kept: their callers would wait forever.
        std::deque<Item> kept;
        for (auto& item : items_) (item.sync ? kept : dropped).push_back(std::move(item));
        items_.swap(kept);
        queued_.store(items_.size(), std::memory_order_release);
        suspendCount_ = 0;
    }
    return dropped.size();
}

}  // namespace telvo::dispatch::detail
