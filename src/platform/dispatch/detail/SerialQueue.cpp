#include "platform/dispatch/detail/SerialQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/detail/Activity.h"
#include "platform/dispatch/detail/Context.h"
#include "platform/dispatch/detail/Pool.h"
#include "platform/dispatch/detail/QueueAccess.h"
#include "platform/dispatch/detail/Threads.h"

namespace telvo::dispatch::detail {

namespace {
// Blocks one drain runs before it hands its worker back, so that busy queues take turns.
constexpr int kBlocksPerTurn = 64;
// Blocks queued meanwhile that a thread running a block of an idle queue (runIfIdle) runs after
// it before a worker takes the queue over.
constexpr int kBlocksHere = 8;
}

SerialQueue::SerialQueue(const std::string& label) : Queue(label, true) { QueueAccess::initialise(*this); }

void SerialQueue::scheduleLocked() {
    // Ownership passes to the drain task.
    auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
    Pool::instance().submit([self] { self->drain(); });
}

void SerialQueue::async(Block block) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Blocks of a suspended queue do not count as pending work until it is resumed.
    if (suspendCount_ == 0) activityBegin();
    items_.push_back(Item{std::move(block), nullptr});
    if (!owned_ && suspendCount_ == 0) {
        owned_ = true;
        scheduleLocked();
    }
}

void SerialQueue::sync(const Block& block) {
    auto& chain = currentChain();
    if (std::find(chain.begin(), chain.end(), this) != chain.end()) {
        std::fprintf(stderr, "dispatch: sync onto queue \"%s\" from a block it is running\n", label().c_str());
        std::abort();
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (owned_ || suspendCount_ > 0 || !items_.empty()) {
            SyncTurn turn;
            items_.push_back(Item{Block(), &turn});
            if (!owned_ && suspendCount_ == 0) {
                owned_ = true;
                scheduleLocked();
            }
            lock.unlock();
            Pool::BlockingScope blocking;
            lock.lock();
            turnGranted_.wait(lock, [&] { return turn.granted; });
        } else {
            owned_ = true;
        }
    }
    // The queue is held by this thread now.
    {
        PushScope scope(this);
        block();
    }
    release();
}

bool SerialQueue::runIfIdle(const Block& block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (owned_ || suspendCount_ > 0 || !items_.empty()) return false;
        owned_ = true;
        activityBegin();
    }
    // As a sync would: the caller's queues stay on the chain, this one innermost.
    PushScope scope(this);
    block();
    activityEnd();
    // Blocks queued meanwhile (mostly by the block itself) run here too, a few of them; the
    // rest go to a worker.
    serve(kBlocksHere);
    return true;
}

void SerialQueue::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!items_.empty() && suspendCount_ == 0) {
        scheduleLocked();
    } else {
        owned_ = false;
    }
}

void SerialQueue::drain() {
    nameThisThread(label());
    ChainScope scope(Chain{this});
    serve(kBlocksPerTurn);
}

void SerialQueue::serve(int limit) {
    for (int n = 0; n < limit; ++n) {
        Item item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (items_.empty() || suspendCount_ > 0) {
                owned_ = false;
                return;
            }
            item = std::move(items_.front());
            items_.pop_front();
            if (item.turn) {
                // Hand the queue to the waiting sync.
                item.turn->granted = true;
                turnGranted_.notify_all();
                return;
            }
        }
        item.block();
        item.block = nullptr;
        activityEnd();
    }
    // Still owned: another turn later, on a worker.
    release();
}

void SerialQueue::suspend() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (suspendCount_++ == 0) {
        for (auto& item : items_)
            if (!item.turn) activityEnd();
    }
}

void SerialQueue::resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (suspendCount_ == 0) return;  // unbalanced resume: ignored
    if (--suspendCount_ > 0) return;
    for (auto& item : items_)
        if (!item.turn) activityBegin();
    if (!owned_ && !items_.empty()) {
        owned_ = true;
        scheduleLocked();
    }
}

}  // namespace telvo::dispatch::detail
