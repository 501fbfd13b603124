// Work that runs where it was made ready instead of waking another thread: a block given to
// an idle queue served by the event thread, descriptor events told again while bytes wait,
// and the main thread's wake-up at the end of a batch.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/dispatch/DispatchFixture.h"
#include "platform/dispatch/Watchdog.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/Source.h"
#include "platform/dispatch/detail/Context.h"
#include "platform/dispatch/detail/MainQueue.h"

namespace telvo::dispatch {
namespace {

using testing::DispatchTest;
using testing::Watchdog;

TEST_F(DispatchTest, AnIdleQueueServedByTheEventThreadRunsABlockOnTheCallersThread) {
    auto served = Queue::createSerial("served");
    served->setServedByEventThread(true);
    auto caller = Queue::createSerial("caller");

    // Idle: the block runs at once on the caller's thread, as the queue, the caller's queue
    // still on the chain; blocks it queues run after it, in order, before the call returns.
    std::vector<int> order;
    std::thread::id callerThread, ranOn, laterOn;
    bool sawQueue = false, sawCaller = false;
    std::thread([&] {
        caller->sync([&] {
            callerThread = std::this_thread::get_id();
            served->asyncHereIfIdle([&] {
                ranOn = std::this_thread::get_id();
                sawQueue = served->isCurrent() && Queue::current() == served;
                sawCaller = caller->isCurrent();
                order.push_back(1);
                served->async([&] { order.push_back(2); });
                served->async([&] {
                    laterOn = std::this_thread::get_id();
                    order.push_back(3);
                });
            });
            EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
        });
    }).join();
    EXPECT_EQ(ranOn, callerThread);
    EXPECT_EQ(laterOn, callerThread);
    EXPECT_TRUE(sawQueue);
    EXPECT_TRUE(sawCaller);

    // Never on the main thread, which carries the collectors' ticks: queued as async does.
    std::atomic<bool> onMain{true};
    caller->sync([&] { served->asyncHereIfIdle([&] { onMain = detail::isMainThread(); }); });
    served->sync([] {});
    EXPECT_FALSE(onMain.load());

    // Busy: the block waits its turn behind what is queued, on a worker.
    Semaphore release(0);
    std::atomic<int> step{0};
    std::thread::id busyOn;
    served->async([&] {
        release.wait(60);
        step = 1;
    });
    served->asyncHereIfIdle([&] {
        busyOn = std::this_thread::get_id();
        if (step == 1) step = 2;
    });
    EXPECT_EQ(step.load(), 0);
    release.signal();
    served->sync([] {});
    EXPECT_EQ(step.load(), 2);
    EXPECT_NE(busyOn, std::this_thread::get_id());

    // A suspended queue holds the block as async would.
    served->suspend();
    std::atomic<bool> ran{false};
    served->asyncHereIfIdle([&] { ran = true; });
    EXPECT_FALSE(ran.load());
    served->resume();
    served->sync([] {});
    EXPECT_TRUE(ran.load());

    // Any other queue: as async.
    auto plain = Queue::createSerial("plain");
    std::thread::id plainOn;
    plain->asyncHereIfIdle([&] { plainOn = std::this_thread::get_id(); });
    plain->sync([] {});
    EXPECT_NE(plainOn, std::this_thread::get_id());
}

TEST_F(DispatchTest, ASourceThatLeavesBytesUnreadIsToldAgain) {
    // The event thread's watches are one-shot: each report is armed again after its handler,
    // and bytes still waiting are reported at once.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
    for (bool servedHere : {false, true}) {
        auto queue = Queue::createSerial("reader");
        queue->setServedByEventThread(servedHere);
        auto reader = Source::createRead(pair[0], queue);
        std::atomic<int> events{0}, bytes{0};
        reader->setEventHandler([&] {
            ++events;
            char one;
            if (read(pair[0], &one, 1) == 1) ++bytes;  // one byte a time, the rest left waiting
        });
        reader->resume();
        ASSERT_EQ(write(pair[1], "abcdef", 6), 6);
        ASSERT_TRUE(MainLoop::runUntil([&] { return bytes.load() == 6; }, 30)) << bytes.load();
        EXPECT_GE(events.load(), 6);
        std::atomic<bool> cancelled{false};
        reader->setCancelHandler([&] { cancelled = true; });
        reader->cancel();
        ASSERT_TRUE(MainLoop::runUntil([&] { return cancelled.load(); }, 30));
    }
    close(pair[0]);
    close(pair[1]);
}

TEST_F(DispatchTest, TheMainThreadWakesForBlocksQueuedInABatchWhenTheBatchEnds) {
    // The main thread sleeps with no time limit; every block queued from another thread,
    // inside a batch or not, wakes it.
    Watchdog watchdog("the main thread's wait for a queued block");
    auto& main = detail::MainQueue::instance();
    for (int i = 0; i < 300; ++i) {
        std::atomic<int> ran{0};
        std::thread other([&, i] {
            if (i % 2 == 0) {
                detail::MainQueue::WakeBatch batch;
                Queue::main()->async([&] { ++ran; });
                if (i % 4 == 0) std::this_thread::yield();
            } else {
                Queue::main()->async([&] { ++ran; });
            }
        });
        while (ran.load() == 0) {
            if (!main.runOne()) main.wait(false, std::nullopt);
        }
        other.join();
    }

    // A sync onto the main queue from inside a batch is served at once, with what the batch
    // queued before it.
    std::vector<int> order;
    std::thread waiter([&] {
        detail::MainQueue::WakeBatch batch;
        Queue::main()->async([&] { order.push_back(1); });
        Queue::main()->sync([&] { order.push_back(2); });
    });
    while (order.size() < 2) {
        if (!main.runOne()) main.wait(false, std::nullopt);
    }
    waiter.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    // A thread that waits inside a batch, here for a block it queued there, wakes the main
    // thread before it waits: nothing else would.
    std::atomic<bool> finished{false}, served{false};
    Semaphore done(0);
    std::thread blocked([&] {
        {
            detail::MainQueue::WakeBatch batch;
            Queue::main()->async([&] { done.signal(); });
            served = done.wait(20);
        }
        finished = true;
        Queue::main()->async([] {});  // the loop below hears the end either way
    });
    while (!finished.load()) {
        if (!main.runOne()) main.wait(false, std::nullopt);
    }
    blocked.join();
    EXPECT_TRUE(served.load()) << "the main thread slept through the block queued before the wait";
}

}  // namespace
}  // namespace telvo::dispatch
