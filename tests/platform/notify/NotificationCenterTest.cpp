#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "platform/notify/NotificationCenter.h"

using telvo::Value;
using telvo::ValueDictionary;
using telvo::notify::Notification;
using telvo::notify::NotificationCenter;

namespace {

// A queue that keeps its blocks until the test runs them.
class HeldQueue : public telvo::dispatch::Queue {
public:
    HeldQueue() : Queue("held", true) {}
    void async(telvo::dispatch::Block block) override { blocks.push_back(std::move(block)); }
    void sync(const telvo::dispatch::Block& block) override { block(); }
    void suspend() override {}
    void resume() override {}
    void runAll() {
        while (!blocks.empty()) {
            auto b = std::move(blocks.front());
            blocks.pop_front();
            b();
        }
    }
    std::deque<telvo::dispatch::Block> blocks;
};

class NotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override { NotificationCenter::resetForTesting(); }
    void TearDown() override { NotificationCenter::resetForTesting(); }
    NotificationCenter& center = NotificationCenter::defaultCenter();
};

}  // namespace

TEST_F(NotificationCenterTest, DeliversByNameAndObjectOnThePostingThread) {
    int sender = 0, otherSender = 0;
    std::vector<std::string> calls;
    std::thread::id deliveredOn;
    center.addObserver("DisksChanged", nullptr, nullptr, [&](const Notification& n) {
        calls.push_back("any:" + n.userInfo["status"].stringValue());
        deliveredOn = std::this_thread::get_id();
    });
    center.addObserver("DisksChanged", &sender, nullptr, [&](const Notification& n) {
        EXPECT_EQ(n.object, &sender);
        calls.push_back("sender");
    });
    center.addObserver("", nullptr, nullptr, [&](const Notification& n) { calls.push_back("all:" + n.name); });
    center.addObserver("Other", nullptr, nullptr, [&](const Notification&) { calls.push_back("other"); });

    std::thread poster([&] { center.post("DisksChanged", &sender, Value(ValueDictionary{{"status", 2}})); });
    std::thread::id posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(deliveredOn, posterId);
    EXPECT_EQ(calls, (std::vector<std::string>{"any:2", "sender", "all:DisksChanged"}));

    calls.clear();
    center.post("DisksChanged", &otherSender);
    EXPECT_EQ(calls, (std::vector<std::string>{"any:", "all:DisksChanged"}));
    calls.clear();
    center.post("Nobody");
    EXPECT_EQ(calls, (std::vector<std::string>{"all:Nobody"}));
}

TEST_F(NotificationCenterTest, RemovalAndReentrancy) {
    int count = 0;
    telvo::notify::ObserverToken self = 0;
    self = center.addObserver("n", nullptr, nullptr, [&](const Notification&) {
        ++count;
        center.removeObserver(self);  // removing itself from inside the callback
        center.addObserver("n", nullptr, nullptr, [&](const Notification&) { count += 100; });
    });
    center.post("n");
    EXPECT_EQ(count, 1);  // the observer added during the post is not told of it
    center.post("n");
    EXPECT_EQ(count, 101);
    EXPECT_EQ(center.observerCount(), 1u);
    center.removeObserver(12345);  // unknown token: ignored

    // A post from inside a callback is delivered at once.
    NotificationCenter::resetForTesting();
    std::vector<std::string> order;
    center.addObserver("outer", nullptr, nullptr, [&](const Notification&) {
        order.push_back("outer");
        center.post("inner");
    });
    center.addObserver("inner", nullptr, nullptr, [&](const Notification&) { order.push_back("inner"); });
    center.post("outer");
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner"}));
    NotificationCenter::resetForTesting();
    EXPECT_EQ(center.observerCount(), 0u);
    center.post("outer");
    EXPECT_EQ(order.size(), 2u);
}

TEST_F(NotificationCenterTest, QueuedObserversRunOnTheirQueueAndNotAfterRemoval) {
    auto queue = std::make_shared<HeldQueue>();
    std::vector<int> seen;
    auto token = center.addObserver("tick", nullptr, queue, [&](const Notification& n) { seen.push_back(int(n.userInfo.intValue())); });
    center.post("tick", nullptr, 1);
    center.post("tick", nullptr, 2);
    EXPECT_TRUE(seen.empty());
    ASSERT_EQ(queue->blocks.size(), 2u);
    queue->runAll();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));

    center.post("tick", nullptr, 3);
    center.removeObserver(token);
    queue->runAll();  // queued before removal, but removed before it ran: nothing
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST_F(NotificationCenterTest, ConcurrentPostsAndRegistrations) {
    std::atomic<int> delivered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                auto token = center.addObserver("busy", nullptr, nullptr, [&](const Notification&) { ++delivered; });
                center.post("busy");
                center.removeObserver(token);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_GE(delivered.load(), 2000);
    EXPECT_EQ(center.observerCount(), 0u);
}
