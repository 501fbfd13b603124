#pragma once
// A dispatch group: counts outstanding work; wait() blocks until the count is zero.
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>
#include "platform/dispatch/Queue.h"

namespace telvo::dispatch {

class Group {
public:
    void enter();
    void leave();
    // Queues `block` on `queue` inside the group.
    void async(const QueuePtr& queue, Block block);
    // Waits until every entered piece of work has left; timeoutSeconds < 0 waits forever.
    // Answers false on time-out (real time).
    bool wait(double timeoutSeconds = -1);
    // Queues `block` on `queue` once the group is empty (at once if it already is).
    void notify(const QueuePtr& queue, Block block);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long count_ = 0;
    std::vector<std::pair<QueuePtr, Block>> notifications_;
};

}  // namespace telvo::dispatch
