#pragma once
// A counting semaphore with a timed wait.
#include <condition_variable>
#include <mutex>

namespace telvo::dispatch {

class Semaphore {
public:
    explicit Semaphore(long value) : value_(value) {}
    void signal();
    // Answers false on time-out (real seconds); timeoutSeconds < 0 waits forever.
    bool wait(double timeoutSeconds = -1);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long value_;
};

}  // namespace telvo::dispatch
