// Many threads at once on the queues, sources and timers; meant to run under the sanitizers.
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>
#include "platform/dispatch/DispatchFixture.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/Source.h"

namespace telvo::dispatch {
namespace {

using testing::DispatchTest;

TEST_F(DispatchTest, StressManyProducersKeepOrderAndExclusionPerQueue) {
    constexpr int kQueues = 6, kProducers = 8, kBlocks = 1500;
    struct Lane {
        QueuePtr queue;
        std::atomic<int> running{0};
        std::atomic<bool> overlapped{false};
        std::vector<int> last = std::vector<int>(kProducers, -1);  // touched only on the queue
        std::atomic<bool> disordered{false};
        std::atomic<long> ran{0};
    };
    std::vector<std::unique_ptr<Lane>> lanes;
    for (int q = 0; q < kQueues; ++q) {
        lanes.push_back(std::make_unique<Lane>());
        lanes.back()->queue = Queue::createSerial("stress." + std::to_string(q));
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kBlocks; ++i) {
                Lane& lane = *lanes[(i + p) % kQueues];
                lane.queue->async([&lane, p, i] {
                    if (lane.running.fetch_add(1) != 0) lane.overlapped = true;
                    if (lane.last[p] >= i) lane.disordered = true;
                    lane.last[p] = i;
                    ++lane.ran;
                    lane.running.fetch_sub(1);
                });
                // Now and then a producer waits for its turn as well.
                if (i % 97 == 0) lane.queue->sync([&lane] { EXPECT_TRUE(lane.queue->isCurrent()); });
            }
        });
    }
    for (auto& t : producers) t.join();
    MainLoop::runUntilIdle();
    long total = 0;
    for (auto& lane : lanes) {
        EXPECT_FALSE(lane->overlapped) << lane->queue->label();
        EXPECT_FALSE(lane->disordered) << lane->queue->label();
        total += lane->ran;
    }
    EXPECT_EQ(total, static_cast<long>(kProducers) * kBlocks);
}

TEST_F(DispatchTest, StressSyncAcrossQueuesSeesTheTargetsSpecifics) {
    static int keyA, keyB;
    int valueA = 1, valueB = 2;
    auto a = Queue::createSerial("stress.a");
    auto b = Queue::createSerial("stress.b");
    a->setSpecific(&keyA, &valueA);
    b->setSpecific(&keyB, &valueB);
    std::atomic<int> wrong{0};
    std::atomic<int> inB{0};
    std::atomic<bool> bOverlapped{false};
    std::atomic<int> done{0};
    constexpr int kThreads = 6, kRounds = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                auto check = [&] {
                    if (inB.fetch_add(1) != 0) bOverlapped = true;
                    if (Queue::getSpecific(&keyB) != &valueB || Queue::getSpecific(&keyA) != nullptr) ++wrong;
                    if (!b->isCurrent() || Queue::current() != b) ++wrong;
                    inB.fetch_sub(1);
                };
                if (t % 2 == 0) {
                    // a -> sync b, while others queue onto b directly.
                    a->async([&, check] {
                        if (Queue::getSpecific(&keyA) != &valueA) ++wrong;
                        b->sync(check);
                        if (Queue::getSpecific(&keyA) != &valueA || !a->isCurrent() || b->isCurrent()) ++wrong;
                        ++done;
                    });
                } else {
                    b->async([&, check] {
                        check();
                        ++done;
                    });
                    if (i % 50 == 0) b->sync(check);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    MainLoop::runUntilIdle();
    EXPECT_EQ(done, kThreads * kRounds);
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(bOverlapped);
}

TEST_F(DispatchTest, StressTimersReArmedOnEveryFiring) {
    constexpr int kTimers = 12, kFirings = 150;
    struct Ticker {
        SourcePtr timer;
        std::atomic<int> fired{0};
        std::atomic<int> cancelled{0};
    };
    std::vector<std::unique_ptr<Ticker>> tickers;
    for (int i = 0; i < kTimers; ++i) {
        auto ticker = std::make_unique<Ticker>();
        QueuePtr queue = i % 3 == 0 ? Queue::global() : Queue::createSerial("tick." + std::to_string(i));
        ticker->timer = Source::createTimer(queue);
        Ticker* raw = ticker.get();
        ticker->timer->setEventHandler([raw] {
            if (++raw->fired < kFirings) {
                raw->timer->scheduleAfter(0.0002, 0, 0);
            } else {
                raw->timer->cancel();
            }
        });
        ticker->timer->setCancelHandler([raw] { ++raw->cancelled; });
        ticker->timer->scheduleAfter(0.0001);
        ticker->timer->resume();
        tickers.push_back(std::move(ticker));
    }
    // Meanwhile another thread keeps re-arming a repeating timer from outside.
    auto outside = Source::createTimer(Queue::createSerial("tick.outside"));
    std::atomic<int> outsideFired{0};
    outside->setEventHandler([&] { ++outsideFired; });
    outside->scheduleAfter(0.0001, 0.0001);
    outside->resume();
    std::atomic<bool> stop{false};
    std::thread rearm([&] {
        while (!stop) {
            outside->scheduleAfter(0.00005, 0.0001);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    bool finished = MainLoop::runUntil(
        [&] {
            for (auto& t : tickers)
                if (t->cancelled.load() == 0) return false;
            return true;
        },
        60);
    stop = true;
    rearm.join();
    outside->cancel();
    MainLoop::runUntilIdle();
    EXPECT_TRUE(finished);
    for (auto& t : tickers) {
        EXPECT_EQ(t->fired, kFirings);
        EXPECT_EQ(t->cancelled, 1);
    }
    EXPECT_GT(outsideFired, 0);
    for (auto& t : tickers) t->timer->setEventHandler(nullptr);
}

TEST_F(DispatchTest, StressCancelWhileAHandlerRuns) {
    constexpr int kRounds = 150;
    int violations = 0;
    for (int round = 0; round < kRounds; ++round) {
        QueuePtr queue = round % 2 ? Queue::global() : Queue::createSerial("cancel." + std::to_string(round));
        // Alternate timers and read sources.
        int fds[2] = {-1, -1};
        SourcePtr source;
        if (round % 3 == 2) {
            ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
            ASSERT_EQ(write(fds[1], "x", 1), 1);
            source = Source::createRead(fds[0], queue);
        } else {
            source = Source::createTimer(queue);
            source->scheduleAfter(0, 0.00001);
        }
        auto active = std::make_shared<std::atomic<int>>(0);
        auto entered = std::make_shared<std::atomic<bool>>(false);
        auto cancels = std::make_shared<std::atomic<int>>(0);
        auto bad = std::make_shared<std::atomic<int>>(0);
        source->setEventHandler([=] {
            if (active->fetch_add(1) != 0) ++*bad;  // two handlers at once
            *entered = true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            active->fetch_sub(1);
        });
        source->setCancelHandler([=] {
            if (active->load() != 0) ++*bad;  // ran beside the handler
            ++*cancels;
        });
        source->resume();
        while (!*entered) std::this_thread::yield();
        // Cancel from several threads at once, while the handler sleeps.
        std::vector<std::thread> cancellers;
        for (int c = 0; c < 3; ++c) cancellers.emplace_back([&] { source->cancel(); });
        for (auto& t : cancellers) t.join();
        ASSERT_TRUE(MainLoop::runUntil([&] { return cancels->load() > 0; }, 10)) << "round " << round;
        MainLoop::runUntilIdle();
        if (cancels->load() != 1 || bad->load() != 0) ++violations;
        if (fds[0] >= 0) {
            close(fds[0]);
            close(fds[1]);
        }
    }
    EXPECT_EQ(violations, 0);
}

}  // namespace
}  // namespace telvo::dispatch
