// What the XPC stand-in gained for its launcher and its callers: data arguments, services that
// answer nothing, callers that learn of refused and dropped calls through an error handler,
// and clients that reach the system folder only when they ask for a privileged service.
#include <gtest/gtest.h>
#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <mutex>
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/xpc/Listener.h"
#include "platform/xpc/Log.h"
#include "platform/xpc/RunFolder.h"

namespace telvo::xpc {
namespace {

using dispatch::MainLoop;

class Holder : public ListenerDelegate {
public:
    explicit Holder(InterfacePtr interface) : interface_(std::move(interface)) {}
    bool shouldAcceptNewConnection(Listener&, const ConnectionPtr& c) override {
        c->setExportedInterface(interface_);
        std::lock_guard<std::mutex> lock(mutex);
        accepted.push_back(c);
        c->resume();
        return true;
    }
    InterfacePtr interface_;
    std::mutex mutex;
    std::vector<ConnectionPtr> accepted;
};

struct Outcome {
    std::mutex mutex;
    std::vector<Value> replies;
    std::vector<long> errors;
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return replies.size() + errors.size();
    }
};

class XpcErrorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::resetForTesting();
        char tmpl[] = "/tmp/telvo-xpc-errors-XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::setRootForTesting(root_);
        setLogHandler([](const std::string&) {});
        auto interface = std::make_shared<Interface>("DataProtocol");
        interface->add({"reverse:reply:", {ArgType::Data}, true, [](const ValueArray& a, const Reply& r) {
                            Bytes bytes = a[0].isNull() ? Bytes{} : a[0].bytes();
                            r(Value(Bytes(bytes.rbegin(), bytes.rend())));
                        }});
        // Answers only what it can read, as a service that sends no reply for a bad message.
        interface->add({"maybe:reply:", {ArgType::Any}, true, [](const ValueArray& a, const Reply& r) {
                            if (a[0].isString()) r(Value("read"));
                            else r.withhold();
                        }});
        holder_ = std::make_shared<Holder>(interface);
        listener_ = Listener::create("com.example.errors");
        listener_->setDelegate(holder_);
        ASSERT_EQ(listener_->resume(), nullptr);
    }
    void TearDown() override {
        listener_->invalidate();
        for (auto& c : holder_->accepted) c->invalidate();
        MainLoop::resetForTesting();
        setLogHandler(nullptr);
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
    }
    void call(const ConnectionPtr& c, const std::string& op, const ValueArray& args, const std::shared_ptr<Outcome>& out) {
        c->call(
            op, args,
            [out](const Value& v) {
                std::lock_guard<std::mutex> lock(out->mutex);
                out->replies.push_back(v);
            },
            [out](const ErrorPtr& e) {
                std::lock_guard<std::mutex> lock(out->mutex);
                out->errors.push_back(e->code);
            });
    }

    std::string root_;
    std::shared_ptr<Holder> holder_;
    ListenerPtr listener_;
};

TEST_F(XpcErrorsTest, DataArgumentsTravelByteForByte) {
    auto c = Connection::connectToService("com.example.errors", Connection::kPrivileged);
    c->resume();
    auto out = std::make_shared<Outcome>();
    std::string bytes("\0\x01</term>\xff<plist>&amp;", 20);
    call(c, "reverse:reply:", {Value::data(bytes)}, out);
    call(c, "reverse:reply:", {Value("text is no data")}, out);
    ASSERT_TRUE(MainLoop::runUntil([&] { return out->count() == 2; }, 10));
    ASSERT_EQ(out->replies.size(), 1u);
    ASSERT_TRUE(out->replies[0].isData());
    EXPECT_EQ(out->replies[0].bytes(), Bytes(bytes.rbegin(), bytes.rend()));
    EXPECT_EQ(out->errors, std::vector<long>{Connection::kReplyInvalid});
    c->invalidate();
}

TEST_F(XpcErrorsTest, AWithheldReplyNeverArrivesAndTheCallerLearnsOfTheDropThroughItsErrorHandler) {
    auto c = Connection::connectToService("com.example.errors", Connection::kPrivileged);
    c->resume();
    auto out = std::make_shared<Outcome>();
    call(c, "maybe:reply:", {Value(7)}, out);        // withheld
    call(c, "maybe:reply:", {Value("text")}, out);   // answered
    ASSERT_TRUE(MainLoop::runUntil([&] { return out->count() == 1; }, 10));
    MainLoop::runFor(0.2);
    ASSERT_EQ(out->count(), 1u);
    EXPECT_EQ(out->replies[0].string(), "read");
    // The service drops the caller: the withheld call fails as interrupted, once.
    {
        std::lock_guard<std::mutex> lock(holder_->mutex);
        ASSERT_EQ(holder_->accepted.size(), 1u);
        holder_->accepted[0]->invalidate();
    }
    ASSERT_TRUE(MainLoop::runUntil([&] { return out->count() == 2; }, 10));
    EXPECT_EQ(out->errors, std::vector<long>{Connection::kInterrupted});
    // A call on an invalidated connection fails at once as invalid.
    c->invalidate();
    call(c, "maybe:reply:", {Value("text")}, out);
    ASSERT_TRUE(MainLoop::runUntil([&] { return out->count() == 3; }, 10));
    EXPECT_EQ(out->errors.back(), Connection::kInvalid);
}

TEST_F(XpcErrorsTest, OnlyAPrivilegedClientReachesTheSystemFolderAndAMissingServiceIsAnError) {
    auto out = std::make_shared<Outcome>();
    // The same name without the privileged option is looked for in the caller's own folder.
    auto own = Connection::connectToService("com.example.errors");
    own->resume();
    call(own, "maybe:reply:", {Value("text")}, out);
    ASSERT_TRUE(MainLoop::runUntil([&] { return out->count() == 1; }, 10));
    EXPECT_EQ(out->errors, std::vector<long>{Connection::kInvalid});
    EXPECT_TRUE(own->isInvalidated());
    EXPECT_EQ(userServiceFolder(1000), std::string(kServiceFolder) + "/user-1000");
    auto privileged = Connection::connectToService("com.example.errors", Connection::kPrivileged);
    privileged->resume();
    call(privileged, "maybe:reply:", {Value("text")}, out);
    ASSERT_TRUE(MainLoop::runUntil([&] { return out->count() == 2; }, 10));
    EXPECT_EQ(out->replies.size(), 1u);
    privileged->invalidate();
}

}  // namespace
}  // namespace telvo::xpc
