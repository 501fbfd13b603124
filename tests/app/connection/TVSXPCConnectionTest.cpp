// The application's connection to the daemon against an in-process stand-in of the daemon's
// service (and, on the older route, of its control socket): connected only after the first
// answer, one reconnect 2 s after a drop (virtual time), the four notifications in order,
// requests abandoned by a drop or given up after their time-out, reply classes, and the
// older route's handler slots.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "app/connection/ServiceProxy.h"
#include "app/connection/TVSXPCAction.h"
#include "app/connection/TVSXPCConnection.h"
#include "app/connection/TVSXPCConnectionDelegate.h"
#include "foundation/ControlChannel.h"
#include "foundation/KXRVersions.h"
#include "net/unixsocket/GDUnixSocketServer.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/time/Clock.h"
#include "platform/xpc/Listener.h"
#include "platform/xpc/RunFolder.h"

namespace telvo::app {
namespace {

using dispatch::MainLoop;

const std::vector<std::string> kFour = {"SettingsUpdated", "PasscodeUpdated", "UpnpUpdated", "SocketUpdated"};

// The daemon's service, as far as these tests need it.
class FakeService : public xpc::ListenerDelegate {
public:
    bool shouldAcceptNewConnection(xpc::Listener&, const xpc::ConnectionPtr& c) override {
        auto i = std::make_shared<xpc::Interface>("ServiceProtocol");
        i->add({"version:", {}, true, [](const ValueArray&, const xpc::Reply& r) { r(Value("3.03 (270)")); }});
        i->add({"clients:", {}, true, [this](const ValueArray&, const xpc::Reply& r) {
                    std::lock_guard lock(mutex);
                    if (holdClients)
                        held.push_back(r);
                    else
                        r(clients);
                }});
        i->add({"objectForKey:reply:", {xpc::ArgType::String}, true, [](const ValueArray& a, const xpc::Reply& r) {
                    const std::string key = a[0].stringValue();
                    if (key == "date") return r(Value::dateFromSeconds(1e9));
                    if (key == "flag") return r(Value(true));
                    r(Value());
                }});
        c->setExportedInterface(i);
        c->resume();
        std::lock_guard lock(mutex);
        connections.push_back(c);
        ++accepted;
        return true;
    }
    // Drops every accepted connection (the daemon going away).
    void dropAll() {
        std::lock_guard lock(mutex);
        for (auto& c : connections) c->invalidate();
        connections.clear();
    }
    void answerHeld() {
        std::vector<xpc::Reply> replies;
        {
            std::lock_guard lock(mutex);
            replies.swap(held);
        }
        for (auto& r : replies) r(clients);
    }
    int acceptedCount() {
        std::lock_guard lock(mutex);
        return accepted;
    }
    std::mutex mutex;
    std::vector<xpc::ConnectionPtr> connections;
    std::vector<xpc::Reply> held;
    bool holdClients = false;
    Value clients = Value(ValueArray{});
    int accepted = 0;
};

class Recorder : public TVSXPCConnectionDelegate {
public:
    void connected() override { events.push_back("connected"); }
    void disconnected() override { events.push_back("disconnected"); }
    size_t count(const std::string& what) const { return size_t(std::count(events.begin(), events.end(), what)); }
    std::vector<std::string> events;
};

class TVSXPCConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the daemon's service lives in root's service folder";
        char pattern[] = "/tmp/tvc-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::setRootForTesting(root_);
        MainLoop::resetForTesting();
        platform::Clock::useVirtual(1.7e9);
        systemlog::setCaptureForTesting([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            log_.push_back(line);
        });
        for (const std::string& name : kFour)
            notify::NotificationCenter::defaultCenter().addObserver(name, nullptr, nullptr,
                                                                    [this](const notify::Notification& n) { posted_.push_back(n.name); });
    }
    void TearDown() override {
        if (root_.empty()) return;
        TVSXPCConnection::resetForTesting();
        if (listener_) listener_->invalidate();
        if (service_) service_->dropAll();
        if (legacy_) legacy_->closeSilently();
        MainLoop::resetForTesting();
        notify::NotificationCenter::resetForTesting();
        systemlog::setCaptureForTesting(nullptr);
        unsetenv("TELVO_OS_VERSION");
        KXRVersions::resetForTesting();
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
    }
    void startService() {
        service_ = std::make_shared<FakeService>();
        listener_ = xpc::Listener::create(channel::kServiceName);
        listener_->setDelegate(service_);
        ASSERT_EQ(listener_->resume(), nullptr);
    }
    TVSXPCConnection& connection() {
        auto& c = TVSXPCConnection::sharedXPCConnection();
        c.setDelegate(&recorder_);
        return c;
    }
    bool until(const std::function<bool()>& predicate) { return MainLoop::runUntil(predicate, 60); }
    size_t outageLines(const std::string& start = "Cannot connect to the daemon: ") {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& line : log_) n += line.rfind(start, 0) == 0;
        return n;
    }
    size_t logLines() {
        std::lock_guard lock(mutex_);
        return log_.size();
    }

    std::string root_;
    std::shared_ptr<FakeService> service_;
    xpc::ListenerPtr listener_;
    GDUnixSocketServerPtr legacy_;
    Recorder recorder_;
    std::vector<std::string> posted_;
    std::mutex mutex_;
    std::vector<std::string> log_;
};

TEST_F(TVSXPCConnectionTest, NoServiceCountsAsNotConnectedUntilOneAnswers) {
    auto& c = connection();
    ASSERT_TRUE(c.usesServiceRoute());
    c.connect();
    ASSERT_TRUE(until([&] { return recorder_.count("disconnected") == 1; }));
    EXPECT_FALSE(c.isConnected());
    EXPECT_TRUE(posted_.empty());
    EXPECT_TRUE(c.reconnectPending());
    // A try every 2 s, no sooner; one line for the whole outage.
    MainLoop::runFor(1.9);
    EXPECT_EQ(recorder_.count("disconnected"), 1u);
    MainLoop::runFor(0.1);
    ASSERT_TRUE(until([&] { return recorder_.count("disconnected") == 2; }));
    MainLoop::runFor(2);
    ASSERT_TRUE(until([&] { return recorder_.count("disconnected") == 3; }));
    EXPECT_EQ(outageLines(), 1u);
    EXPECT_TRUE(posted_.empty());

    startService();
    MainLoop::runFor(2);
    ASSERT_TRUE(until([&] { return c.isConnected(); }));
    EXPECT_EQ(recorder_.events.back(), "connected");
    EXPECT_EQ(posted_, kFour);
    EXPECT_FALSE(c.reconnectPending());
}

TEST_F(TVSXPCConnectionTest, ADropAbandonsOutstandingRequestsAndReconnectsOnce2sLater) {
    startService();
    auto& c = connection();
    c.connect();
    ASSERT_TRUE(until([&] { return c.isConnected(); }));
    posted_.clear();

    service_->holdClients = true;
    int replies = 0, errors = 0;
    TVSXPCAction([&](ServiceProxy& proxy) {
        ASSERT_TRUE(proxy.isValid());
        proxy.clients([&](const Value&) { ++replies; }, [&](const ErrorPtr&) { ++errors; });
    });
    ASSERT_TRUE(until([&] {
        std::lock_guard lock(service_->mutex);
        return service_->held.size() == 1;
    }));
    service_->dropAll();
    ASSERT_TRUE(until([&] { return recorder_.count("disconnected") == 1 && errors == 1; }));
    EXPECT_FALSE(c.isConnected());
    EXPECT_EQ(c.connection(), nullptr);
    EXPECT_EQ(c.outstandingRequests(), 0u);
    // The interruption and the invalidation both told, one reconnect pending.
    c.disconnected();
    MainLoop::runUntilIdle();
    int acceptedBefore = service_->acceptedCount();

    // While dropped, a panel's call gets no proxy and only its error handler runs.
    int noProxyErrors = 0;
    TVSXPCAction([&](ServiceProxy& proxy) {
        EXPECT_FALSE(proxy.isValid());
        proxy.version([&](const Value&) { ADD_FAILURE() << "no proxy answers"; }, [&](const ErrorPtr& e) {
            EXPECT_EQ(e->code, TVSXPCConnection::kNoConnection);
            ++noProxyErrors;
        });
    });
    MainLoop::runUntilIdle();
    EXPECT_EQ(noProxyErrors, 1);

    MainLoop::runFor(2);
    ASSERT_TRUE(until([&] { return c.isConnected(); }));
    EXPECT_EQ(service_->acceptedCount(), acceptedBefore + 1);
    EXPECT_EQ(posted_, kFour);
    // The request lost in the drop stays unanswered, even once the daemon answers it.
    service_->answerHeld();
    MainLoop::runFor(1);
    EXPECT_EQ(replies, 0);
    EXPECT_EQ(errors, 1);
}

TEST_F(TVSXPCConnectionTest, ARequestGivenUpAfterItsTimeOutDropsItsLateReply) {
    startService();
    auto& c = connection();
    c.connect();
    ASSERT_TRUE(until([&] { return c.isConnected(); }));
    service_->holdClients = true;
    int replies = 0;
    std::vector<long> errors;
    TVSXPCAction([&](ServiceProxy& proxy) {
        proxy.clients([&](const Value&) { ++replies; }, [&](const ErrorPtr& e) { errors.push_back(e->code); }, 3);
    });
    ASSERT_TRUE(until([&] {
        std::lock_guard lock(service_->mutex);
        return service_->held.size() == 1;
    }));
    MainLoop::runFor(2.9);
    EXPECT_TRUE(errors.empty());
    MainLoop::runFor(0.1);
    ASSERT_EQ(errors, std::vector<long>{TVSXPCConnection::kTimedOut});
    service_->answerHeld();
    ASSERT_TRUE(until([&] { return c.droppedReplies() == 1; }));
    EXPECT_EQ(replies, 0);
    EXPECT_TRUE(c.isConnected());
}

TEST_F(TVSXPCConnectionTest, RepliesCarryOnlyDictionariesArraysStringsAndNumbers) {
    startService();
    auto& c = connection();
    c.connect();
    ASSERT_TRUE(until([&] { return c.isConnected(); }));
    std::map<std::string, Value> answers;
    auto ask = [&](const std::string& key) {
        TVSXPCAction([&, key](ServiceProxy& proxy) {
            proxy.objectForKey(key, [&, key](const Value& v) { answers[key] = v; }, [](const ErrorPtr&) {});
        });
    };
    ask("date");
    ask("flag");
    service_->clients = Value(ValueArray{Value(ValueDictionary{{"address", Value("192.0.2.1")}, {"when", Value::dateFromSeconds(5)}})});
    TVSXPCAction([&](ServiceProxy& proxy) {
        proxy.clients([&](const Value& v) { answers["clients"] = v; }, [](const ErrorPtr&) {});
    });
    ASSERT_TRUE(until([&] { return answers.size() == 3; }));
    EXPECT_TRUE(answers["date"].isNull());
    EXPECT_EQ(answers["flag"], Value(true));   // booleans count as numbers
    EXPECT_TRUE(answers["clients"].isNull());  // a date inside is refused as a whole

    service_->clients = Value(ValueArray{Value(ValueDictionary{{"address", Value("192.0.2.1")}, {"sent", Value(10.0)}})});
    answers.clear();
    TVSXPCAction([&](ServiceProxy& proxy) {
        proxy.clients([&](const Value& v) { answers["clients"] = v; }, [](const ErrorPtr&) {});
    });
    ASSERT_TRUE(until([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers["clients"], service_->clients);
}

// The older route's stand-in: answers "version" and "preference" like the daemon.
class FakeControlSocket : public GDUnixSocketDelegate {
public:
    void unixSocketReceivedDictionary(const Value& request, GDUnixSocket* client) override {
        std::string key = request["key"].stringValue();
        Value answer(ValueDictionary{{"key", Value(key)}});
        if (key == "version") answer.set("version", Value("3.03 (270)"));
        if (key == "preference") {
            answer.set("pkey", request["pkey"]);
            answer.set("value", Value(5109));
        }
        client->writeDictionary(answer);
    }
};

TEST_F(TVSXPCConnectionTest, OlderRouteSlotsNoSocketAndAClosedSocket) {
    setenv("TELVO_OS_VERSION", "10.7", 1);
    KXRVersions::resetForTesting();
    auto& c = connection();
    ASSERT_FALSE(c.usesServiceRoute());

    // No socket: the reply block runs at once with no dictionary, and the failure is logged.
    bool answered = false;
    Value reply(ValueDictionary{});
    c.sendIPCRequest(Value(ValueDictionary{{"key", Value("clients")}}), [&](const Value& v) {
        answered = true;
        reply = v;
    });
    EXPECT_TRUE(answered);
    EXPECT_TRUE(reply.isNull());
    EXPECT_EQ(c.connectionLegacy(), nullptr);
    c.sendIPCRequest(Value(ValueDictionary{{"key", Value("clients")}}), [](const Value&) {});
    // The socket's error, once for the outage.
    ASSERT_EQ(logLines(), 1u);
    EXPECT_NE(log_[0].find("No such file or directory"), std::string::npos) << log_[0];
    EXPECT_TRUE(posted_.empty());

    ASSERT_EQ(xpc::prepareRunFolder(channel::kLegacyFolder, 0750), nullptr);
    auto control = std::make_shared<FakeControlSocket>();
    legacy_ = GDUnixSocketServer::initWithSocketPath(channel::kLegacySocketPath, 256);
    legacy_->setDelegate(control);
    ASSERT_TRUE(legacy_->listenWithError());

    // Two requests under one slot ("preference-port"): the block stored last answers both.
    Value request(ValueDictionary{{"key", Value("preference")}, {"pkey", Value("port")}});
    EXPECT_EQ(TVSXPCConnection::handlerKey(request), "preference-port");
    int first = 0, second = 0;
    c.sendIPCRequest(request, [&](const Value&) { ++first; });
    EXPECT_EQ(posted_, kFour);  // the connect posts the four
    c.sendIPCRequest(request, [&](const Value& v) {
        ++second;
        reply = v;
    });
    ASSERT_TRUE(until([&] { return second == 2; }));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(reply["value"].intValue(), 5109);
    // The connect's own "version" answer made the route count as connected.
    EXPECT_TRUE(c.isConnected());
    EXPECT_EQ(recorder_.events, std::vector<std::string>{"connected"});

    // The daemon closes the socket: the next request lets it go and opens a new one.
    GDUnixSocketClientPtr old = c.connectionLegacy();
    for (const auto& client : legacy_->connectedClients()) client->close();
    ASSERT_TRUE(until([&] { return old->state() != GDUnixSocket::kStateConnected; }));
    int third = 0;
    c.sendIPCRequest(request, [&](const Value&) { ++third; });
    ASSERT_NE(c.connectionLegacy(), nullptr);
    EXPECT_NE(c.connectionLegacy(), old);
    EXPECT_EQ(recorder_.events, (std::vector<std::string>{"connected", "disconnected"}));
    ASSERT_TRUE(until([&] { return third == 1 && c.isConnected(); }));
    EXPECT_EQ(recorder_.events.back(), "connected");
}

}  // namespace
}  // namespace telvo::app
