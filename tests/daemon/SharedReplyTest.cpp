// Replies shared by the sessions that ask the same thing between two samples: every client
// gets exactly the bytes it would get alone, whatever the others ask, and no reply outlives
// the sample it was made from. Collectors tick on the virtual clock; the sessions read their
// requests in main-queue blocks as sessions on sockets do.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "DaemonFixture.h"
#include "collectors/framework/StatCollector.h"
#include "daemon/ReplyCache.h"
#include "daemon/RemoteClient.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

using namespace telvo;
using platform::Clock;

namespace {

// Two values a sample, both functions of the sample's time, sampled every second.
class TickingCollector : public StatCollector {
public:
    explicit TickingCollector(std::string type, double scale) : StatCollector(2), type_(std::move(type)), scale_(scale) {
        setDatabaseEnabled(false);
        setStorageType(1);
        config().set("sampleKeys", Value(ValueDictionary{{"u", Value(0)}, {"s", Value(1)}}));
        config().set("xmlSampleKeys", Value(ValueDictionary{{"u", Value(0)}, {"s", Value(1)}}));
    }
    std::string statType() const override { return type_; }
    void updateStats() override {
        statsample* ring = storageForType(0);
        PushSamples(ring, sampleValueCount());
        const sampleindexconfig live = sampleIndex(0);
        ring[0].values[0] = std::fmod(live.time, 1000.0) * scale_;
        ring[0].values[1] = -live.sampleID * 0.125;
        ring[0].sampleID = live.sampleID;
        ring[0].time = live.time;
        ring[0].empty = 0;
    }

private:
    std::string type_;
    double scale_;
};

struct Client {
    RemoteClientPtr session;
    std::vector<std::string> sent;
};

class SharedReplyTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        dispatch::MainLoop::resetForTesting();
        Clock::useVirtual(1700000000.25);
        TVSPreferences::sharedPreferences().setPasscode("1357");
        cpu_ = std::make_shared<TickingCollector>("cpu", 1.5);
        memory_ = std::make_shared<TickingCollector>("memory", 0.75);
        ServerManager::sharedServerManager().statCollectors() = {cpu_, memory_};
        cpu_->startLogging();
        memory_->startLogging();
        dispatch::MainLoop::runFor(5.5);
    }
    void TearDown() override {
        for (auto& c : {cpu_, memory_}) c->setStopped(true);
        ServerManager::sharedServerManager().statCollectors().clear();
        dispatch::MainLoop::resetForTesting();
        ReplyCache::resetForTesting();
        DaemonFixture::TearDown();
    }

    std::unique_ptr<Client> logIn(bool compression, int protocol) {
        auto client = std::make_unique<Client>();
        Client* raw = client.get();
        client->session = RemoteClient::initDetachedForTesting([raw](const std::string& b) { raw->sent.push_back(b); });
        client->session->processXML("<tvx type=\"100\" protocol=\"" + std::to_string(protocol) + "\" compression=\"" +
                                    (compression ? "1" : "0") + "\"></tvx>");
        client->session->processXML("<tvx type=\"101\" uuid=\"SHARED-" + std::to_string(++devices_) + "\"></tvx>");
        client->session->processXML("<tvx type=\"102\" code=\"1357\"></tvx>");
        client->sent.clear();
        return client;
    }

    // The request read from the client's socket, in a main-queue block of its own.
    static void ask(Client& client, const std::string& request) {
        RemoteClientPtr session = client.session;
        dispatch::Queue::main()->async([session, request] {
            session->socketDidReadData(nullptr, Bytes(request.begin(), request.end()), 1);
        });
        dispatch::MainLoop::runUntilIdle();
    }

    // What a session of its own would get now: asked outside any main-queue block, nothing
    // is shared.
    std::vector<std::string> alone(bool compression, int protocol, const std::string& request) {
        auto client = logIn(compression, protocol);
        client->session->processXML(request);
        return client->sent;
    }

    static std::string request(const std::string& cpuSamples, bool withMemory) {
        std::string r = "<tvx type=\"103\"><stat type=\"cpu\" samples=\"" + cpuSamples + "\"></stat>";
        if (withMemory) r += "<stat type=\"memory\" samples=\"3\"></stat>";
        return r + "</tvx>";
    }

    std::shared_ptr<TickingCollector> cpu_, memory_;
    int devices_ = 0;
};

TEST_F(SharedReplyTest, EachClientGetsTheBytesItWouldGetAlone) {
    const std::string common = request("3", true);
    struct Case {
        const char* what;
        bool compression;
        int protocol;
        std::string request;
        size_t entries;  // kept after the three clients asked
    } cases[] = {
        {"the same request", false, 3, common, 1},
        {"another sample number", false, 3, request("2", true), 2},
        {"another type set", false, 3, request("3", false), 2},
        {"compression", true, 3, common, 1},
        {"another protocol", false, 2, common, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReplyCache::resetForTesting();
        auto first = logIn(false, 3), second = logIn(false, 3), third = logIn(c.compression, c.protocol);
        ask(*first, common);
        ask(*third, c.request);
        ask(*second, common);
        const auto expected = alone(false, 3, common);
        ASSERT_EQ(expected.size(), 2u);
        EXPECT_NE(expected[1].find("<s "), std::string::npos);
        EXPECT_EQ(first->sent, expected);
        EXPECT_EQ(second->sent, expected);
        EXPECT_EQ(third->sent, alone(c.compression, c.protocol, c.request));
        EXPECT_EQ(ReplyCache::shared().entryCountForTesting(), c.entries);
    }
}

TEST_F(SharedReplyTest, NoReplyOutlivesTheSampleOrAChangeItWasMadeFrom) {
    const std::string r = request("0", true);
    auto first = logIn(true, 3), second = logIn(true, 3);
    ask(*first, r);
    // A tick: the next client asking the same text gets the new sample.
    dispatch::MainLoop::runFor(1);
    ask(*second, r);
    EXPECT_EQ(second->sent, alone(true, 3, r));
    EXPECT_NE(second->sent, first->sent);

    // Any other main-queue block may change what a reply shows: here one adds a sample by hand.
    first->sent.clear();
    second->sent.clear();
    ask(*first, r);
    dispatch::Queue::main()->async([this] {
        cpu_->setID(cpu_->idForInterval(0) + 1, 0);
        cpu_->updateStats();
    });
    dispatch::MainLoop::runUntilIdle();
    ask(*second, r);
    EXPECT_EQ(second->sent, alone(true, 3, r));
    EXPECT_NE(second->sent, first->sent);
}

TEST_F(SharedReplyTest, ASocketQueueTakesAReplyOnlyWhileNoBlockStartedSinceItHeld) {
    // What another thread (a socket's queue) is handed for the request, as header and payload.
    auto ready = [](const std::string& request, bool compress, int protocol = 3) {
        std::vector<std::string> got;
        std::thread([&] {
            ReplyCache::Prepared p = ReplyCache::shared().findReady(request, protocol, compress);
            if (!p) return;
            const auto split = p.frame->begin() + long(p.headerLength);
            got = {std::string(p.frame->begin(), split), std::string(split, p.frame->end())};
        }).join();
        return got;
    };
    const std::string r = request("0", true);
    auto first = logIn(true, 3), second = logIn(true, 3);
    EXPECT_TRUE(ready(r, true).empty());
    ask(*first, r);
    EXPECT_EQ(ready(r, true), first->sent);
    // Only the form, text and protocol made are handed out.
    EXPECT_TRUE(ready(r, false).empty());
    EXPECT_TRUE(ready(r, true, 2).empty());
    EXPECT_TRUE(ready(request("1", true), true).empty());

    // A block that does not say it changes nothing (a tick) ends it from its start on.
    bool whileRunning = true;
    dispatch::Queue::main()->async([&] {
        whileRunning = !ready(r, true).empty();
        cpu_->setID(cpu_->idForInterval(0) + 1, 0);
        cpu_->updateStats();
    });
    dispatch::MainLoop::runUntilIdle();
    EXPECT_FALSE(whileRunning);
    EXPECT_TRUE(ready(r, true).empty());
    // A session reading another request does not bring the old reply back.
    ask(*second, request("2", false));
    EXPECT_TRUE(ready(r, true).empty());
    // The next session asking makes it anew, from the new sample, and that one is handed out.
    first->sent.clear();
    ask(*first, r);
    EXPECT_EQ(first->sent, alone(true, 3, r));
    EXPECT_EQ(ready(r, true), first->sent);
    dispatch::MainLoop::runFor(1);
    EXPECT_TRUE(ready(r, true).empty());
}

TEST_F(SharedReplyTest, TheCacheIsBoundedInBytes) {
    // Requests of different texts (an unknown type changes the text, not the reply) fill it.
    auto client = logIn(false, 3);
    std::vector<std::string> replies;
    for (size_t i = 0; i < ReplyCache::kMaxEntries + 8; ++i) {
        client->sent.clear();
        const std::string r = "<tvx type=\"103\"><stat type=\"cpu\" samples=\"0\"></stat><stat type=\"x" +
                              std::string(i * 4096, 'y') + "\"></stat></tvx>";
        ask(*client, r);
        ASSERT_EQ(client->sent.size(), 2u);
        replies.push_back(client->sent[1]);
        EXPECT_LE(ReplyCache::shared().byteCountForTesting(), ReplyCache::kMaxBytes);
        EXPECT_LE(ReplyCache::shared().entryCountForTesting(), ReplyCache::kMaxEntries);
    }
    for (const auto& reply : replies) EXPECT_EQ(reply, replies.front());
}

}  // namespace
