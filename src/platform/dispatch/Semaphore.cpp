#include "platform/dispatch/Semaphore.h"

#include <chrono>

#include "platform/dispatch/detail/Pool.h"

namespace telvo::dispatch {

void Semaphore::signal() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++value_;
    cv_.notify_one();
}

bool Semaphore::wait(double timeoutSeconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto available = [this] { return value_ > 0; };
    if (available()) {
        --value_;
        return true;
    }
    lock.unlock();
    detail::Pool::BlockingScope blocking;
    lock.lock();
    // Negative, NaN or beyond a few months: forever (keeps the clock arithmetic in range).
    if (!(timeoutSeconds >= 0 && timeoutSeconds <= 1e7)) {
        cv_.wait(lock, available);
    } else if (!cv_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), available)) {
        return false;
    }
    --value_;
    return true;
}

}  // namespace telvo::dispatch
