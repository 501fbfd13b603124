#pragma once
// Aborts the test program loudly should the wait it guards not end within a minute: a lost
// wake-up would otherwise hang the test until ctest's time-out.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace telvo::dispatch::testing {

class Watchdog {
public:
    explicit Watchdog(const char* what) : thread_([this, what] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: %s did not end within 60 s\n", what);
            std::abort();
        }
    }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace telvo::dispatch::testing
