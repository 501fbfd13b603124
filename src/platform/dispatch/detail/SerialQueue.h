#pragma once
// A serial queue on the worker pool: one block at a time, in order. A sync waits for its turn
// and then runs its block on the caller's thread while the queue is held.
#include <condition_variable>
#include <deque>
#include <mutex>
#include "platform/dispatch/Queue.h"

namespace telvo::dispatch::detail {

class SerialQueue final : public Queue {
public:
    explicit SerialQueue(const std::string& label);
    void async(Block block) override;
    void sync(const Block& block) override;
    void suspend() override;
    void resume() override;
    // Runs the block at once on the calling thread, as this queue (innermost on the caller's
    // chain, as a sync), when nothing of the queue is queued or running and it is not
    // suspended, followed by a few blocks queued meanwhile; false (and nothing run) otherwise.
    bool runIfIdle(const Block& block);

private:
    struct SyncTurn {
        bool granted = false;
    };
    struct Item {
        Block block;
        SyncTurn* turn = nullptr;
    };
    void scheduleLocked();
    void drain();
    // Runs up to `limit` queued blocks on this thread, which owns the queue; then the queue is
    // released, or handed to a worker while blocks remain.
    void serve(int limit);
    void release();

    std::mutex mutex_;
    std::condition_variable turnGranted_;
    std::deque<Item> items_;
    bool owned_ = false;  // a drain is scheduled or running, or a sync holds the queue
    int suspendCount_ = 0;
};

}  // namespace telvo::dispatch::detail
