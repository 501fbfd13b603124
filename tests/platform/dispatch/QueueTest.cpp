#include <atomic>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>
#include "platform/dispatch/DispatchFixture.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"

namespace telvo::dispatch {
namespace {

using testing::DispatchTest;
using platform::Clock;

std::string threadName() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

TEST_F(DispatchTest, SerialQueueRunsInOrderOneAtATimeOnANamedThread) {
    auto queue = Queue::createSerial("cocoa.lumberjack.fileLogger");
    EXPECT_EQ(queue->label(), "cocoa.lumberjack.fileLogger");
    EXPECT_TRUE(queue->isSerial());
    EXPECT_FALSE(queue->isMain());
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::string name;
    for (int i = 0; i < 1000; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            order.push_back(i);
            if (i == 0) name = threadName();
            EXPECT_TRUE(queue->isCurrent());
            EXPECT_EQ(Queue::current(), queue);
            running.fetch_sub(1);
        });
    }
    queue->sync([] {});
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
    // The kernel keeps 15 bytes of a thread name.
    EXPECT_EQ(name, "cocoa.lumberjac");
}

TEST_F(DispatchTest, SyncSeesTheTargetQueueAndTheCallersChain) {
    static int outerKey, innerKey;
    int outerValue = 1, innerValue = 2;
    auto outer = Queue::createSerial("outer");
    auto inner = Queue::createSerial("inner");
    outer->setSpecific(&outerKey, &outerValue);
    inner->setSpecific(&innerKey, &innerValue);
    EXPECT_EQ(outer->specific(&outerKey), &outerValue);
    EXPECT_EQ(outer->specific(&innerKey), nullptr);

    std::atomic<bool> checked{false};
    outer->sync([&] {
        EXPECT_EQ(Queue::getSpecific(&outerKey), &outerValue);
        inner->sync([&] {
            EXPECT_EQ(Queue::current(), inner);
            // Only the target's own values are visible, not those of the outer sync.
            EXPECT_EQ(Queue::getSpecific(&innerKey), &innerValue);
            EXPECT_EQ(Queue::getSpecific(&outerKey), nullptr);
            EXPECT_TRUE(inner->isCurrent());
            EXPECT_TRUE(outer->isCurrent());
            checked = true;
        });
        EXPECT_EQ(Queue::current(), outer);
        EXPECT_FALSE(inner->isCurrent());
    });
    EXPECT_TRUE(checked);
    // A block queued asynchronously starts with a fresh chain.
    std::atomic<bool> outerSeen{true};
    outer->async([&] { inner->async([&] { outerSeen = outer->isCurrent(); }); });
    outer->sync([] {});
    inner->sync([] {});
    EXPECT_FALSE(outerSeen);
}

TEST_F(DispatchTest, SyncWaitsForEarlierBlocks) {
    auto queue = Queue::createSerial("sync-order");
    std::vector<int> order;
    Semaphore gate(0);
    queue->async([&] {
        gate.wait();
        order.push_back(1);
    });
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.signal();
    });
    queue->sync([&] { order.push_back(2); });
    opener.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(DispatchTest, MainQueueRunsOnTheThreadThatDrivesTheLoop) {
    auto main = Queue::main();
    EXPECT_TRUE(main->isMain());
    // Start-up code on the main thread counts as the main queue.
    EXPECT_TRUE(main->isCurrent());
    auto worker = Queue::createSerial("worker");
    std::vector<int> order;
    auto mainThread = std::this_thread::get_id();
    std::atomic<bool> onMainThread{true};
    for (int i = 0; i < 3; ++i) {
        worker->async([&, i] {
            EXPECT_FALSE(Queue::main()->isCurrent());
            main->async([&, i] {
                order.push_back(i);
                if (std::this_thread::get_id() != mainThread) onMainThread = false;
                EXPECT_EQ(Queue::current(), main);
            });
        });
    }
    // Idle means: nothing queued anywhere, so the worker's posts are all seen.
    EXPECT_EQ(MainLoop::runUntilIdle(), 3);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(onMainThread);
}

TEST_F(DispatchTest, SyncOntoTheMainQueueFromAWorker) {
    auto worker = Queue::createSerial("to-main");
    std::atomic<bool> done{false};
    worker->async([&] {
        bool sawChain = false;
        Queue::main()->sync([&] {
            EXPECT_TRUE(Queue::main()->isCurrent());
            sawChain = worker->isCurrent();
        });
        EXPECT_TRUE(sawChain);
        done = true;
    });
    EXPECT_TRUE(MainLoop::runUntil([&] { return done.load(); }, 10));
    // From the main thread itself, outside any main-queue block, sync runs earlier blocks
    // first and then the block.
    std::vector<int> order;
    Queue::main()->async([&] { order.push_back(1); });
    Queue::main()->sync([&] { order.push_back(2); });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(DispatchTest, AnotherEventLoopCanDriveTheMainQueue) {
    std::atomic<int> wakes{0};
    MainLoop::setWakeHandler([&] { ++wakes; });
    std::vector<int> order;
    auto worker = Queue::createSerial("gui-feeder");
    worker->sync([&] {
        Queue::main()->async([&] {
            order.push_back(1);
            // Queued by a pending block: left for the next round.
            Queue::main()->async([&] { order.push_back(3); });
        });
        Queue::main()->async([&] { order.push_back(2); });
    });
    EXPECT_EQ(wakes, 2);
    EXPECT_EQ(MainLoop::runPending(), 2);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(wakes, 3);
    EXPECT_EQ(MainLoop::runPending(), 1);
    EXPECT_EQ(MainLoop::runPending(), 0);
    MainLoop::setWakeHandler(nullptr);
    Queue::main()->async([] {});
    EXPECT_EQ(wakes, 3);
    MainLoop::runUntilIdle();
}

TEST_F(DispatchTest, GlobalQueueGrowsWhenBlocksWait) {
    // Every block waits until all have started: a fixed pool smaller than this would hang.
    constexpr int kBlocks = 64;
    Semaphore started(0);
    Semaphore release(0);
    Group group;
    for (int i = 0; i < kBlocks; ++i) {
        group.async(Queue::global(), [&] {
            EXPECT_EQ(Queue::current(), Queue::global());
            started.signal();
            release.wait();
        });
    }
    for (int i = 0; i < kBlocks; ++i) ASSERT_TRUE(started.wait(10)) << "only " << i << " blocks started";
    for (int i = 0; i < kBlocks; ++i) release.signal();
    EXPECT_TRUE(group.wait(10));
}

TEST_F(DispatchTest, SuspendedQueueHoldsItsBlocksUntilResumedAsOften) {
    auto queue = Queue::createSerial("suspended");
    std::atomic<int> ran{0};
    queue->suspend();
    queue->suspend();
    queue->async([&] { ++ran; });
    // Blocks of a suspended queue are not pending work: the loop is idle.
    MainLoop::runUntilIdle();
    EXPECT_EQ(ran, 0);
    queue->resume();
    MainLoop::runUntilIdle();
    EXPECT_EQ(ran, 0);
    queue->resume();
    MainLoop::runUntilIdle();
    EXPECT_EQ(ran, 1);
    // An unbalanced resume is ignored rather than letting a later suspend misbehave.
    queue->resume();
    queue->suspend();
    queue->async([&] { ++ran; });
    MainLoop::runUntilIdle();
    EXPECT_EQ(ran, 1);
    queue->resume();
    MainLoop::runUntilIdle();
    EXPECT_EQ(ran, 2);

    auto main = Queue::main();
    main->suspend();
    main->async([&] { ++ran; });
    EXPECT_EQ(MainLoop::runUntilIdle(), 0);
    main->resume();
    EXPECT_EQ(MainLoop::runUntilIdle(), 1);
}

TEST_F(DispatchTest, AfterFollowsTheVirtualClock) {
    Clock::useVirtual(1000);
    std::vector<std::pair<int, double>> fired;
    auto worker = Queue::createSerial("after");
    Queue::main()->after(5, [&] { fired.emplace_back(5, Clock::now()); });
    worker->after(2, [&] { Queue::main()->async([&] { fired.emplace_back(2, Clock::now()); }); });
    Queue::main()->after(0, [&] { fired.emplace_back(0, Clock::now()); });
    Queue::main()->after(-3, [&] { fired.emplace_back(-3, Clock::now()); });
    MainLoop::runUntilIdle();
    ASSERT_EQ(fired.size(), 2u);
    MainLoop::runFor(4.5);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[2], std::make_pair(2, 1002.0));
    EXPECT_DOUBLE_EQ(Clock::now(), 1004.5);
    MainLoop::runFor(0.5);
    ASSERT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired[3], std::make_pair(5, 1005.0));
}

TEST_F(DispatchTest, AfterOnTheRealClock) {
    double start = Clock::monotonic();
    bool fired = false;
    Queue::main()->after(0.05, [&] { fired = true; });
    EXPECT_TRUE(MainLoop::runUntil([&] { return fired; }, 10));
    EXPECT_GE(Clock::monotonic() - start, 0.05);
}

TEST_F(DispatchTest, GroupNotifyAndSemaphoreTimeouts) {
    Group group;
    auto queue = Queue::createSerial("group");
    std::atomic<int> done{0};
    bool notified = false;
    group.enter();
    for (int i = 0; i < 10; ++i) group.async(queue, [&] { ++done; });
    group.notify(Queue::main(), [&] {
        notified = true;
        EXPECT_EQ(done, 10);
    });
    EXPECT_FALSE(group.wait(0.01));
    group.leave();
    EXPECT_TRUE(group.wait(10));
    MainLoop::runUntilIdle();
    EXPECT_TRUE(notified);
    bool atOnce = false;
    group.notify(Queue::main(), [&] { atOnce = true; });
    MainLoop::runUntilIdle();
    EXPECT_TRUE(atOnce);

    Semaphore semaphore(2);
    EXPECT_TRUE(semaphore.wait(0));
    EXPECT_TRUE(semaphore.wait(0));
    EXPECT_FALSE(semaphore.wait(0.01));
    semaphore.signal();
    EXPECT_TRUE(semaphore.wait());
}

}  // namespace
}  // namespace telvo::dispatch
