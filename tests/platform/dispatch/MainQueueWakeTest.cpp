// The main thread sleeps with no time limit while it has nothing to run: every change that
// gives it work must wake it (a lost wake-up would hang these tests, so a watchdog stops them
// loudly instead).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchFixture.h"
#include "platform/dispatch/Watchdog.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/detail/MainQueue.h"

namespace telvo::dispatch {
namespace {

using testing::DispatchTest;
using testing::Watchdog;

// Serves the main queue, sleeping without a deadline, until `done`.
template <class Done>
void serveUntil(Done done) {
    auto& main = detail::MainQueue::instance();
    while (!done())
        if (!main.runOne()) main.wait(false, std::nullopt);
}

TEST_F(DispatchTest, TheSleepingMainThreadWakesForEveryKindOfWork) {
    Watchdog watchdog("a main-thread wait with no time limit");

    // Blocks queued from other threads, at every moment of the main thread's way to sleep.
    for (int i = 0; i < 300; ++i) {
        std::atomic<int> ran{0};
        std::thread other([&, i] {
            if (i % 3 == 0) std::this_thread::yield();
            if (i % 2 == 0) {
                Queue::main()->async([&] { ++ran; });
            } else {
                Queue::main()->sync([&] { ++ran; });
            }
        });
        serveUntil([&] { return ran.load() != 0; });
        other.join();
    }

    // A resume from another thread frees what the suspended queue held.
    for (int i = 0; i < 50; ++i) {
        std::atomic<bool> ran{false};
        Queue::main()->suspend();
        Queue::main()->async([&] { ran = true; });
        std::thread other([] { Queue::main()->resume(); });
        serveUntil([&] { return ran.load(); });
        other.join();
    }

    // The end of the last block on another queue ends a wait for idleness; blocks elsewhere
    // do not keep an ordinary wait awake.
    auto worker = Queue::createSerial("worker");
    for (int i = 0; i < 100; ++i) {
        std::atomic<bool> ran{false};
        worker->async([&] {
            if (i % 2) std::this_thread::yield();
            ran = true;
        });
        MainLoop::runUntilIdle();
        EXPECT_TRUE(ran.load());
    }
}

}  // namespace
}  // namespace telvo::dispatch
