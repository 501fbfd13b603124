// Replies made off the main queue: every answer of a session leaves in the order of the
// requests, each 105 header carries the exact length of the payload after it, and the bytes
// are those of a session that makes its replies at once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <regex>

#include "DaemonFixture.h"
#include "collectors/framework/StatCollector.h"
#include "daemon/RemoteClient.h"
#include "daemon/ReplyChannel.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "platform/crypto/Gzip.h"

using namespace telvo;

namespace {

class ValuesCollector : public StatCollector {
public:
    explicit ValuesCollector(std::string type) : StatCollector(2), type_(std::move(type)) {
        setDatabaseEnabled(false);
        config().set("sampleKeys", Value(ValueDictionary{{"u", Value(0)}, {"s", Value(1)}}));
        config().set("xmlSampleKeys", Value(ValueDictionary{{"u", Value(0)}, {"s", Value(1)}}));
        for (int i = 0; i < 700; ++i)
            addSample(Value(ValueDictionary{{"u", Value(i * 1.375)}, {"s", Value(-i * 0.005)}}), 0);
    }
    std::string statType() const override { return type_; }

private:
    std::string type_;
};

class ReplyOrderTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        TVSPreferences::sharedPreferences().setPasscode("2468");
        ServerManager::sharedServerManager().statCollectors() = {std::make_shared<ValuesCollector>("cpu"),
                                                                 std::make_shared<ValuesCollector>("memory")};
    }
    void TearDown() override {
        ServerManager::sharedServerManager().statCollectors().clear();
        DaemonFixture::TearDown();
    }

    // Everything one session sends for the same conversation.
    std::vector<std::string> conversation(bool offMainQueue, bool compression) {
        std::mutex lock;
        std::vector<std::string> sent;
        auto session = RemoteClient::initDetachedForTesting(
            [&](const std::string& bytes) {
                std::lock_guard<std::mutex> hold(lock);
                sent.push_back(bytes);
            },
            "127.0.0.1", offMainQueue);
        session->processXML(std::string("<tvx type=\"100\" protocol=\"3\" compression=\"") + (compression ? "1" : "0") +
                            "\"></tvx>");
        // A device not yet authorised, so that each conversation asks for the passcode.
        session->processXML("<tvx type=\"101\" uuid=\"ORDER-" + std::to_string(++conversations_) +
                            "\" name=\"n\"></tvx>");
        session->processXML("<tvx type=\"102\" code=\"2468\"></tvx>");
        session->processXML("<tvx type=\"103\"><stat type=\"cpu\" samples=\"-1|-1\"></stat>"
                            "<stat type=\"memory\" samples=\"0\"></stat></tvx>");
        session->processXML("<tvx type=\"103\"><stat type=\"memory\" samples=\"650\"></stat></tvx>");
        session->processXML("<tvx type=\"100\" protocol=\"3\"></tvx>");
        session->waitForRepliesForTesting();
        EXPECT_DOUBLE_EQ(session->bytesSent(), [&] {
            double total = 0;
            for (const auto& s : sent) total += double(s.size());
            return total;
        }());
        std::lock_guard<std::mutex> hold(lock);
        return sent;
    }
    int conversations_ = 0;
};

TEST_F(ReplyOrderTest, AnswersLeaveInRequestOrderWithExactLengthsAndTheSameBytes) {
    for (bool compression : {false, true}) {
        SCOPED_TRACE(compression ? "compressed" : "plain");
        std::vector<std::string> queued = conversation(true, compression);
        std::vector<std::string> inline_ = conversation(false, compression);
        ASSERT_EQ(queued.size(), 8u);
        EXPECT_EQ(queued, inline_);
        const std::regex header(R"re(<\?xml version="1.0" encoding="UTF-8"\?><tvx type="105" length="(\d+)"( c="1")?></tvx>)re");
        for (size_t at : {3u, 5u}) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(queued[at], m, header)) << queued[at];
            EXPECT_EQ(std::stoul(m[1].str()), queued[at + 1].size());
            EXPECT_EQ(m[2].matched, compression);
            std::string payload = queued[at + 1];
            if (compression) {
                auto inflated = crypto::zlibInflate(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
                ASSERT_TRUE(inflated);
                payload.assign(inflated->begin(), inflated->end());
            }
            EXPECT_EQ(payload.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\"><stat type=\"", 0), 0u);
            EXPECT_EQ(payload.substr(payload.size() - 6), "</tvx>");
            EXPECT_NE(payload.find("<s "), std::string::npos);
        }
        EXPECT_NE(queued[7].find("type=\"100\""), std::string::npos);
    }
}

TEST_F(ReplyOrderTest, AReplyTakenOnTheSocketQueueNeverOvertakesOneStillBeingMade) {
    // The sink of the channel's queue waits until the test lets it go on.
    std::mutex lock;
    std::condition_variable changed;
    bool held = true;
    std::vector<std::string> sent;
    auto channel = std::make_shared<ReplyChannel>(std::weak_ptr<GCDAsyncSocket>(), [&](const std::string& bytes) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return !held; });
        sent.push_back(bytes);
    }, true);
    // Too many elements to be made at once: it goes to the channel's queue.
    auto big = StatNode::element("stat");
    big->setAttribute("type", "cpu");
    for (size_t i = 0; i <= ReplyChannel::kSmallReplyElements; ++i) big->addChild(StatNode::element("item"));
    channel->sendReply({big}, false);
    auto small = StatNode::element("stat");
    small->setAttribute("type", "memory");
    ReplyCache::Prepared ready = ReplyCache::make({small}, false);
    EXPECT_FALSE(channel->sendPreparedIfIdle(ready));
    {
        std::lock_guard<std::mutex> hold(lock);
        held = false;
    }
    changed.notify_all();
    channel->drain();
    EXPECT_TRUE(channel->sendPreparedIfIdle(ready));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_NE(sent[1].find("<stat type=\"cpu\">"), std::string::npos);
    EXPECT_NE(sent[3].find("<stat type=\"memory\">"), std::string::npos);
    EXPECT_DOUBLE_EQ(channel->bytesSent(), double(sent[0].size() + sent[1].size() + sent[2].size() + sent[3].size()));
}

}  // namespace
