#include "platform/dispatch/Group.h"

#include <chrono>

#include "platform/dispatch/detail/Pool.h"

namespace telvo::dispatch {

void Group::enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
}

void Group::leave() {
    std::vector<std::pair<QueuePtr, Block>> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == 0) return;  // unbalanced leave: ignored
        if (--count_ > 0) return;
        due.swap(notifications_);
        cv_.notify_all();
    }
    for (auto& [queue, block] : due) queue->async(std::move(block));
}

void Group::async(const QueuePtr& queue, Block block) {
    enter();
    // The group must outlive its pending work, as a dispatch group's owner ensures.
    queue->async([this, block = std::move(block)] {
        block();
        leave();
    });
}

bool Group::wait(double timeoutSeconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto empty = [this] { return count_ == 0; };
    if (empty()) return true;
    lock.unlock();
    detail::Pool::BlockingScope blocking;
    lock.lock();
    // Negative, NaN or beyond a few months: forever (keeps the clock arithmetic in range).
    if (!(timeoutSeconds >= 0 && timeoutSeconds <= 1e7)) {
        cv_.wait(lock, empty);
        return true;
    }
    return cv_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), empty);
}

void Group::notify(const QueuePtr& queue, Block block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ > 0) {
            notifications_.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

}  // namespace telvo::dispatch
