// The XPC stand-in over real Unix sockets under a temporary root: typed calls and replies,
// replies exactly once, refused calls, caller credentials, interruption and invalidation.
#include <gtest/gtest.h>
#include <unistd.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/xpc/Listener.h"
#include "platform/xpc/Log.h"
#include "platform/xpc/Message.h"

namespace telvo::xpc {
namespace {

using dispatch::MainLoop;

bool waitUntil(const std::function<bool()>& pred, double seconds = 5) { return MainLoop::runUntil(pred, seconds); }

class AcceptAll : public ListenerDelegate {
public:
    explicit AcceptAll(InterfacePtr interface) : interface_(std::move(interface)) {}
    bool shouldAcceptNewConnection(Listener&, const ConnectionPtr& c) override {
        c->setExportedInterface(interface_);
        c->setInvalidationHandler([this] { ++invalidated; });
        {
            std::lock_guard<std::mutex> lock(mutex);
            accepted.push_back(c);
        }
        c->resume();
        return true;
    }
    InterfacePtr interface_;
    std::mutex mutex;
    std::vector<ConnectionPtr> accepted;
    std::atomic<int> invalidated{0};
};

class XpcTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::resetForTesting();
        char tmpl[] = "/tmp/telvo-xpc-XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::setRootForTesting(root_);
        setLogHandler([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            logLines_.push_back(line);
        });
        interface_ = std::make_shared<Interface>("TestProtocol");
        interface_->add({"echo:reply:", {ArgType::Any}, true, [](const ValueArray& a, const Reply& r) { r(a[0]); }});
        interface_->add({"twice:", {}, true, [](const ValueArray&, const Reply& r) {
                             r(Value("first"));
                             r(Value("second"));
                         }});
        interface_->add({"never:", {}, true, [](const ValueArray&, const Reply&) {}});
        interface_->add({"setInteger:forKey:", {ArgType::Integer, ArgType::String}, false,
                         [this](const ValueArray& a, const Reply&) {
                             std::lock_guard<std::mutex> lock(callsMutex_);
                             calls_.push_back(a[1].string() + "=" + std::to_string(a[0].intValue()));
                         }});
        interface_->add({"setObject:forKey:", {ArgType::Any, ArgType::String}, false,
                         [this](const ValueArray& a, const Reply&) {
                             std::lock_guard<std::mutex> lock(callsMutex_);
                             calls_.push_back(a[1].string() + (a[0].isNull() ? " removed" : "=" + a[0].description()));
                         }});
        delegate_ = std::make_shared<AcceptAll>(interface_);
        listener_ = Listener::create("com.example.test");
        listener_->setDelegate(delegate_);
        ASSERT_EQ(listener_->resume(), nullptr);
    }
    void TearDown() override {
        listener_->invalidate();
        for (auto& c : delegate_->accepted) c->invalidate();
        MainLoop::resetForTesting();
        setLogHandler(nullptr);
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
    }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(callsMutex_);
        return calls_;
    }
    bool logged(const std::string& part) {
        std::lock_guard<std::mutex> lock(logMutex_);
        for (const auto& l : logLines_)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

    std::string root_;
    InterfacePtr interface_;
    std::shared_ptr<AcceptAll> delegate_;
    ListenerPtr listener_;
    std::mutex callsMutex_, logMutex_;
    std::vector<std::string> calls_, logLines_;
};

TEST_F(XpcTest, CallsRunInOrderAndEveryReplyArrivesOnceOnTheConnectionQueue) {
    auto c = Connection::connectToService("com.example.test", Connection::kPrivileged);
    c->resume();
    std::mutex m;
    std::vector<Value> replies;
    std::atomic<int> onQueue{0};
    auto collect = [&](const Value& v) {
        if (c->queue()->isCurrent()) ++onQueue;
        std::lock_guard<std::mutex> lock(m);
        replies.push_back(v);
    };
    Value dict;
    dict.set("a", ValueArray{Value(1), Value("x</term>y")});
    c->call("echo:reply:", {Value("text")}, collect);
    c->call("echo:reply:", {dict}, collect);
    c->call("twice:", {}, collect);
    c->call("never:", {}, collect);
    c->call("echo:reply:", {Value()}, collect);
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(m);
        return replies.size() >= 5;
    }));
    // A short grace for a stray second reply.
    waitUntil([] { return false; }, 0.2);
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0], Value("text"));
    EXPECT_EQ(replies[1], dict);
    EXPECT_EQ(replies[2], Value("first"));
    EXPECT_TRUE(replies[3].isNull());  // a handler that never replies answers nil
    EXPECT_TRUE(replies[4].isNull());
    EXPECT_EQ(onQueue.load(), 5);
    c->invalidate();
}

TEST_F(XpcTest, ArgumentsOfTheWrongTypeAreRefusedBeforeTheHandler) {
    auto c = Connection::connectToService("com.example.test", Connection::kPrivileged);
    c->resume();
    c->call("setInteger:forKey:", {Value("12"), Value("port")});          // text for an integer
    c->call("setInteger:forKey:", {Value(5110)});                         // too few
    c->call("noSuchOperation", {});
    c->call("setInteger:forKey:", {Value(5110), Value("port")});
    c->call("setObject:forKey:", {Value(), Value("ssl")});                // nil survives as nil
    ASSERT_TRUE(waitUntil([&] { return calls().size() >= 2; }));
    EXPECT_EQ(calls(), (std::vector<std::string>{"port=5110", "ssl removed"}));
    EXPECT_TRUE(logged("argument 1 is no integer"));
    EXPECT_TRUE(logged("takes 2 arguments, not 1"));
    EXPECT_TRUE(logged("no operation \"noSuchOperation\""));
    c->invalidate();
}

TEST_F(XpcTest, TheServiceSeesTheCallersCredentials) {
    auto c = Connection::connectToService("com.example.test", Connection::kPrivileged);
    c->resume();
    std::atomic<bool> done{false};
    c->call("echo:reply:", {Value(1)}, [&](const Value&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    ASSERT_EQ(delegate_->accepted.size(), 1u);
    PeerCredentials peer = delegate_->accepted[0]->peerCredentials();
    EXPECT_EQ(peer.pid, getpid());
    EXPECT_EQ(peer.uid, geteuid());
    EXPECT_TRUE(peer.alive());  // pinned at the accept
    EXPECT_EQ(c->peerCredentials().pid, getpid());
    c->invalidate();
}

TEST_F(XpcTest, NoSuchServiceInvalidatesTheClient) {
    auto c = Connection::connectToService("com.example.absent", Connection::kPrivileged);
    std::atomic<int> invalidated{0}, interrupted{0};
    c->setInvalidationHandler([&] { ++invalidated; });
    c->setInterruptionHandler([&] { ++interrupted; });
    c->resume();
    ASSERT_TRUE(waitUntil([&] { return invalidated.load() == 1; }));
    EXPECT_EQ(interrupted.load(), 0);
    EXPECT_TRUE(c->isInvalidated());
}

TEST_F(XpcTest, PeerGoneInterruptsTheClientWhichThenReconnects) {
    auto c = Connection::connectToService("com.example.test", Connection::kPrivileged);
    std::atomic<int> invalidated{0}, interrupted{0};
    c->setInvalidationHandler([&] { ++invalidated; });
    c->setInterruptionHandler([&] { ++interrupted; });
    c->resume();
    std::atomic<int> replies{0};
    c->call("echo:reply:", {Value(1)}, [&](const Value&) { ++replies; });
    ASSERT_TRUE(waitUntil([&] { return replies.load() == 1; }));
    // The service drops this caller: its side is invalidated, the client's only interrupted.
    delegate_->accepted[0]->invalidate();
    ASSERT_TRUE(waitUntil([&] { return interrupted.load() == 1 && delegate_->invalidated.load() == 1; }));
    EXPECT_EQ(invalidated.load(), 0);
    c->call("echo:reply:", {Value(2)}, [&](const Value& v) { replies += int(v.intValue()); });
    ASSERT_TRUE(waitUntil([&] { return replies.load() == 3; }));
    EXPECT_EQ(delegate_->accepted.size(), 2u);
    // A client that goes away invalidates the service's connection.
    c->invalidate();
    ASSERT_TRUE(waitUntil([&] { return delegate_->invalidated.load() == 2 && invalidated.load() == 1; }));
}

TEST_F(XpcTest, ARefusingDelegateClosesTheConnection) {
    struct RefuseAll : ListenerDelegate {
        bool shouldAcceptNewConnection(Listener&, const ConnectionPtr&) override { return false; }
    };
    auto refuse = std::make_shared<RefuseAll>();
    listener_->setDelegate(refuse);
    auto c = Connection::connectToService("com.example.test", Connection::kPrivileged);
    std::atomic<int> interrupted{0};
    c->setInterruptionHandler([&] { ++interrupted; });
    c->resume();
    std::atomic<bool> replied{false};
    c->call("echo:reply:", {Value(1)}, [&](const Value&) { replied = true; });
    ASSERT_TRUE(waitUntil([&] { return interrupted.load() >= 1; }));
    EXPECT_FALSE(replied.load());
    c->invalidate();
}

TEST(XpcMessageTest, TheDecoderCutsAnyByteSplitAndRefusesHugeLengths) {
    Value a, b;
    a.set("type", "call");
    a.set("args", packArguments({Value(), Value("x"), Value(3)}));
    b.set("type", "reply");
    std::string bytes = encodeMessage(a) + encodeMessage(b) + std::string("\0\0\0\5hello", 9);
    for (size_t split = 0; split <= bytes.size(); split += 7) {
        MessageDecoder d;
        auto first = d.feed(bytes.data(), split);
        auto rest = d.feed(bytes.data() + split, bytes.size() - split);
        first.insert(first.end(), rest.begin(), rest.end());
        ASSERT_EQ(first.size(), 2u) << split;
        EXPECT_EQ(first[0], a);
        EXPECT_EQ(d.droppedMessages(), 1u);  // "hello" is no dictionary
        ValueArray args;
        ASSERT_TRUE(unpackArguments(first[0]["args"], args));
        EXPECT_EQ(args, (ValueArray{Value(), Value("x"), Value(3)}));
    }
    MessageDecoder huge;
    huge.feed("\x7f\xff\xff\xff", 4);
    EXPECT_TRUE(huge.failed());
    ValueArray out;
    Value damaged;
    damaged.set("count", Value(1000000));
    EXPECT_FALSE(unpackArguments(damaged, out));
}

}  // namespace
}  // namespace telvo::xpc
