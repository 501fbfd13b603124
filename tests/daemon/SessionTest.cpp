// Client sessions against the server manager and controller in this process: the daemon side
// runs on the main loop, the protocol client on a thread of its own, over TLS on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "DaemonFixture.h"
#include "FakeCollector.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/RemoteClient.h"
#include "daemon/ReplyCache.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/xml/XmlDocument.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;
using telvo::testing::FakeCollector;

namespace {

class SessionTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        port_ = telvo::testing::freePort();
        TVSPreferences& preferences = TVSPreferences::sharedPreferences();
        preferences.setInteger(port_, "port");
        preferences.setBool(false, "bonjour enabled");

        DaemonCollectors c;
        c.cpu = cpu_ = std::make_shared<FakeCollector>("cpu");
        c.memory = memory_ = std::make_shared<FakeCollector>("memory");
        c.processes = processes_ = std::make_shared<FakeCollector>("processes");
        c.diskInfo = diskInfo_ = std::make_shared<FakeCollector>("diskinfo", true);
        diskInfo_->setSession(5);
        c.processUpdateMask = [this] { return mask_; };
        c.setProcessUpdateMask = [this](uint64_t m) { mask_ = m; };
        c.updateProcesses = [this] { ++processSamples_; };
        c.modelIdentifier = [] { return std::string("MacBookPro11,3"); };
        c.osVersion = [] { return std::string("10.15.7"); };
        Controller& controller = Controller::sharedController();
        controller.setCollectorsForTesting(c);
        controller.prepare();
        controller.start();
        ASSERT_TRUE(dispatch::MainLoop::runUntil(
            [] { return ServerManager::sharedServerManager().status() == ServerManager::kListening; }, 60))
            << "server status " << ServerManager::sharedServerManager().status() << " on port " << port_;
        passcode_ = *TVSPreferences::sharedPreferences().passcode();
    }

    // Runs `body` on a thread while the main loop serves the daemon side.
    template <class F>
    void withClient(F body, double timeout = 180) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            body();
            done = true;
        });
        dispatch::MainLoop::runUntil([&] { return done.load(); }, timeout);
        thread.join();
    }

    // Connects, says hello and logs in with the passcode.
    void logIn(ProtocolClient& client, const std::string& device, bool compression) {
        ASSERT_NO_FATAL_FAILURE(open(client, compression));
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails(device, "n")));
        ASSERT_TRUE(client.readAnswer());
        ASSERT_TRUE(client.send(ProtocolClient::passcode(passcode_)));
        auto accepted = client.readAnswer();
        ASSERT_TRUE(accepted);
        ASSERT_EQ(accepted->type(), 103);
    }

    // Connects and says hello; fails the test when that does not work.
    void open(ProtocolClient& client, bool compression = true, const char* host = "127.0.0.1") {
        std::string error;
        ASSERT_TRUE(client.connect(host, port_, &error)) << error;
        ASSERT_TRUE(client.send(ProtocolClient::hello(compression)));
        auto hello = client.readAnswer();
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"100\" protocol=\"3\"></tvx>");
    }

    uint16_t port_ = 0;
    std::string passcode_;
    std::shared_ptr<FakeCollector> cpu_, memory_, processes_, diskInfo_;
    uint64_t mask_ = 0;
    int processSamples_ = 0;
};

std::vector<std::string> statTypes(const std::string& payload) {
    std::vector<std::string> types;
    auto document = xml::XmlDocument::parse(payload);
    if (!document) return {"<unparsable>"};
    for (const auto& stat : document->root().children()) types.push_back(stat.attribute("type"));
    return types;
}

}  // namespace

TEST_F(SessionTest, HelloDetailsPasscodeAndACompressedReply) {
    ProtocolClient client;  // stays connected while the daemon side is looked at
    withClient([&] {
        open(client);
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails("DEVICE-1", "Tom &amp; Jerry")));
        auto details = client.readAnswer();
        ASSERT_TRUE(details);
        EXPECT_EQ(details->type(), 100);
        EXPECT_EQ(details->attributes["protocol"], "3");
        EXPECT_EQ(details->attributes["model"], "MacBookPro11,3");
        EXPECT_EQ(details->attributes["version"], "3.03");
        EXPECT_EQ(details->attributes["build"], "270");
        EXPECT_EQ(details->attributes["platform"], "7");
        EXPECT_EQ(details->attributes["os"], "10.15.7");
        EXPECT_EQ(details->attributes["uuid"].size(), 36u);
        EXPECT_EQ(details->attributes["auth"], "1");
        EXPECT_NE(details->text.find("\" uuid=\""), std::string::npos);

        ASSERT_TRUE(client.send(ProtocolClient::passcode(passcode_ + "0")));
        auto rejected = client.readAnswer();
        ASSERT_TRUE(rejected);
        EXPECT_EQ(rejected->text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"102\"></tvx>");
        ASSERT_TRUE(client.send(ProtocolClient::passcode(passcode_)));
        auto accepted = client.readAnswer();
        ASSERT_TRUE(accepted);
        EXPECT_EQ(accepted->type(), 103);

        ASSERT_TRUE(client.send(ProtocolClient::statRequest("processes,gpu,memory,serverinfo,cpu", "0|0")));
        auto reply = client.readStatReply();
        ASSERT_TRUE(reply);
        EXPECT_TRUE(reply->compressed);
        EXPECT_EQ(reply->header.attributes["c"], "1");
        EXPECT_EQ(reply->header.attributes["length"], std::to_string(reply->payloadLength));
        // Served order, not request order; unknown types left out.
        EXPECT_EQ(statTypes(reply->payload), (std::vector<std::string>{"cpu", "memory", "processes"}));
        EXPECT_NE(reply->payload.find("protocol=\"3\""), std::string::npos);
    });
    EXPECT_TRUE(logged("127.0.0.1 - Tom & Jerry: Host authorized"));
    EXPECT_TRUE(logged("127.0.0.1 - Tom & Jerry: Invalid passcode"));
    EXPECT_EQ(ServerManager::sharedServerManager().authorizedDevices(), std::vector<std::string>{"DEVICE-1"});
    // A request naming processes switched it on for the reply (the next update pass may
    // already have switched it off again, no list being asked for).
    EXPECT_EQ(processes_->requests.size(), 1u);

    // A later session of the same device is authorised at once.
    withClient([&] {
        ProtocolClient client;
        open(client, false, "::1");
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails("DEVICE-1", "again")));
        auto details = client.readAnswer();
        ASSERT_TRUE(details);
        EXPECT_EQ(details->attributes["auth"], "0");
        ASSERT_TRUE(client.send(ProtocolClient::statRequest("cpu")));
        auto reply = client.readStatReply();
        ASSERT_TRUE(reply);
        EXPECT_FALSE(reply->compressed);
        EXPECT_FALSE(reply->header.attributes.count("c"));
        EXPECT_EQ(reply->payload.size(), reply->payloadLength);
        EXPECT_EQ(reply->payload.substr(reply->payload.size() - 6), "</tvx>");
    });
}

TEST_F(SessionTest, UnauthorisedRequestsUnknownTypesAndJunkGetNoAnswer) {
    ProtocolClient client;
    withClient([&] {
        open(client);
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails("UNKNOWN", "stranger")));
        ASSERT_TRUE(client.readAnswer());
        // Each of these gets nothing; the hello after them is the next thing answered.
        ASSERT_TRUE(client.send(ProtocolClient::statRequest("cpu")));
        ASSERT_TRUE(client.send("<tvx type=\"104\"></tvx>"));
        ASSERT_TRUE(client.send("<tvx type=\"99\"></tvx>"));
        ASSERT_TRUE(client.send("<tvx type=\"105\" length=\"5\"></tvx>"));
        ASSERT_TRUE(client.send("<<<not xml at all</tvx>"));
        ASSERT_TRUE(client.send("<tvx></tvx>"));
        ASSERT_TRUE(client.send(ProtocolClient::hello(false, 1)));
        auto answer = client.readAnswer();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->type(), 100);
        EXPECT_FALSE(answer->attributes.count("auth"));  // the hello answer, not a reply
    });
    EXPECT_TRUE(cpu_->requests.empty());
    auto clients = ServerManager::sharedServerManager().clients();
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(clients[0]->protocolVersion(), 1);
    EXPECT_FALSE(clients[0]->authenticated());
}

TEST_F(SessionTest, SessionBasedCollectorsAndProcessLists) {
    ProtocolClient client;
    withClient([&] {
        open(client, false);
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails("D", "n")));
        ASSERT_TRUE(client.readAnswer());
        ASSERT_TRUE(client.send(ProtocolClient::passcode(passcode_)));
        ASSERT_TRUE(client.readAnswer());
        // The client holds session 5 of disk information: nothing new for it.
        ASSERT_TRUE(client.send("<tvx type=\"103\"><stat type=\"diskinfo\" session=\"5\"></stat></tvx>"));
        auto unchanged = client.readStatReply();
        ASSERT_TRUE(unchanged);
        EXPECT_EQ(unchanged->payload, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\"></tvx>");
        ASSERT_TRUE(client.send("<tvx type=\"103\"><stat type=\"diskinfo\" session=\"4\"></stat>"
                                "<stat type=\"processes\"><l keys=\"cpu,network\"></l></stat></tvx>"));
        auto reply = client.readStatReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(statTypes(reply->payload), (std::vector<std::string>{"diskinfo", "processes"}));
    });
    EXPECT_EQ(mask_, 1u | 8u);
    EXPECT_TRUE(processes_->enabled());
    EXPECT_TRUE(logged("adding process mask 1"));
    EXPECT_TRUE(logged("adding process mask 8"));
    EXPECT_GT(Controller::sharedController().lastNetworkProcessRequest(), 0);

    auto clients = ServerManager::sharedServerManager().clients();
    ASSERT_EQ(clients.size(), 1u);
    const RemoteClientPtr& session = clients[0];
    // Answers of hello, details, 103 and two replies (headers and payloads), all counted.
    EXPECT_GT(session->bytesSent(), 300);
    EXPECT_GT(session->bytesReceived(), 200);

    // The last client leaving switches the process lists off.
    session->socket()->disconnect();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return ServerManager::sharedServerManager().clients().empty(); }, 60));
    EXPECT_FALSE(processes_->enabled());
}

TEST_F(SessionTest, ARequestAskedAgainIsAnsweredByTheSocketWhileTheMainQueueIsHeld) {
    const std::string request = "<tvx type=\"103\"><stat type=\"cpu\" samples=\"7\"></stat>"
                                "<stat type=\"memory\" samples=\"0\"></stat></tvx>";
    for (bool compression : {false, true}) {
        SCOPED_TRACE(compression ? "compressed" : "plain");
        ReplyCache::resetForTesting();
        ProtocolClient first, second;
        std::optional<telvo::testclient::StatReply> made;
        withClient([&] {
            ASSERT_NO_FATAL_FAILURE(logIn(first, "FIRST", compression));
            ASSERT_NO_FATAL_FAILURE(logIn(second, "SECOND", compression));
            ASSERT_TRUE(first.send(request));
            made = first.readStatReply();
        });
        ASSERT_TRUE(made);
        const size_t asked = cpu_->requests.size();

        // The main queue is held by a block that changes nothing, as another session's read
        // is: the second client asking the same text is answered all the same, with the
        // bytes made for the first, and no collector is asked again.
        std::optional<telvo::testclient::StatReply> shared;
        bool ran = false;
        dispatch::Queue::main()->async([&] {
            ReplyCache::shared().blockChangesNothing();
            std::thread asking([&] {
                if (second.send(request)) shared = second.readStatReply(60);
            });
            asking.join();
            ran = true;
        });
        ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return ran; }, 120));
        ASSERT_TRUE(shared) << "no reply while the main queue was held";
        EXPECT_EQ(shared->header.text, made->header.text);
        EXPECT_EQ(shared->payload, made->payload);
        EXPECT_EQ(shared->compressed, compression);
        EXPECT_EQ(cpu_->requests.size(), asked);

        // The session counted what it read there.
        auto clients = ServerManager::sharedServerManager().clients();
        ASSERT_EQ(clients.size(), 2u);
        double received = 0;
        for (const auto& session : clients) received += session->bytesReceived();
        EXPECT_GT(received, 2.0 * double(request.size()));
        for (const auto& session : clients) session->socket()->disconnect();
        ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return ServerManager::sharedServerManager().clients().empty(); }, 60));
    }
}

TEST_F(SessionTest, AClientThatSendsWithoutReadingIsReadNoFurtherUntilItReads) {
    const std::string request = "<tvx type=\"103\"><stat type=\"cpu\" samples=\"0\"></stat>"
                                "<stat type=\"memory\" samples=\"0\"></stat></tvx>";
    std::string batch;
    for (int i = 0; i < 100; ++i) batch += request;
    // Far more than the socket buffers on both sides and the session's bound together take.
    constexpr size_t kFlood = 256u << 20;
    ProtocolClient client;
    size_t sent = 0;
    bool blocked = false;
    withClient([&] {
        ASSERT_NO_FATAL_FAILURE(logIn(client, "FLOOD", false));
        while (sent < kFlood) {
            if (!client.send(batch, 5)) {
                blocked = true;
                break;
            }
            sent += batch.size();
        }
    });
    ASSERT_TRUE(blocked) << "the daemon read " << sent << " bytes of requests from a client that read nothing";
    auto clients = ServerManager::sharedServerManager().clients();
    ASSERT_EQ(clients.size(), 1u);
    const RemoteClientPtr session = clients[0];
    const double read = session->bytesReceived();
    EXPECT_LT(read, double(kFlood) / 8) << "requests read while their answers could not be sent";

    // Taking its answers lets the session read on: every request read has one, so a session
    // that never reads again leaves the client waiting for an answer that does not come.
    withClient([&] {
        for (size_t taken = 0; session->bytesReceived() <= read; ++taken)
            ASSERT_TRUE(client.readStatReply(30)) << "answer " << taken << " of the requests read";
    });
    EXPECT_GT(session->bytesReceived(), read);
    session->socket()->disconnect();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return ServerManager::sharedServerManager().clients().empty(); }, 60));
}

TEST_F(SessionTest, AnOverlongMessageClosesTheSession) {
    withClient([&] {
        ProtocolClient client;
        open(client);
        std::string flood(RemoteClient::kMaximumMessageLength + 1024, 'x');
        client.send("<tvx type=\"101\" name=\"" + flood);
        EXPECT_TRUE(client.waitForClose(20));
    });
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return ServerManager::sharedServerManager().clients().empty(); }, 60));
    bool sawMaximum = false;
    for (const auto& line : logMessages())
        sawMaximum |= line.find("Disconnecting with error") != std::string::npos && line.find("Code=6") != std::string::npos;
    EXPECT_TRUE(sawMaximum);
}

TEST_F(SessionTest, WrongPasscodesAreAnsweredLaterAndLaterButTheRightOneStillWorks) {
    withClient([&] {
        ProtocolClient client;
        open(client);
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails("GUESSER", "g")));
        ASSERT_TRUE(client.readAnswer());
        for (int i = 0; i < PasscodeThrottle::kFreeAttempts; ++i) {
            ASSERT_TRUE(client.send(ProtocolClient::passcode("00000")));
            auto answer = client.readAnswer(60);
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->type(), 102);
        }
        auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(client.send(ProtocolClient::passcode("00000")));
        ASSERT_TRUE(client.send(ProtocolClient::passcode(passcode_)));
        auto late = client.readAnswer(60);
        double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_TRUE(late);
        EXPECT_EQ(late->type(), 102);
        EXPECT_GE(waited, PasscodeThrottle::kFirstDelay * 0.9);
        auto right = client.readAnswer(60);
        ASSERT_TRUE(right);
        EXPECT_EQ(right->type(), 103);
    });
    EXPECT_EQ(ServerManager::sharedServerManager().passcodeThrottle().failures("127.0.0.1"), 0);
}
