// Statistics requests to nodes: levels, item selection, "items" entries, partial, temporary
// items, rejected levels; answers compared with golden files.
#include <gtest/gtest.h>

#include <algorithm>

#include "collectors/framework/NodeText.h"
#include "collectors/framework/TestCollectors.h"
#include "foundation/ServerLog.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

constexpr double T = 1700000000.0;

Value request(std::initializer_list<std::pair<const std::string, Value>> entries) {
    return Value(ValueDictionary(entries));
}

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Clock::useVirtual(T); }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        platform::Clock::useReal();
    }

    // A storage-type-1 collector with level 0 samples 1..30 and level 1 samples 1..25.
    std::shared_ptr<fwtest::TestValuesCollector> values() {
        auto c = std::make_shared<fwtest::TestValuesCollector>(2);
        for (int64_t level : {0L, 1L}) {
            int n = level == 0 ? 30 : 25;
            for (int i = 1; i <= n; ++i) {
                Value s(ValueDictionary{{"sample", Value(i)},
                                        {"time", Value(T - (n - i) * kSampleLevelIntervals[level])},
                                        {"v0", Value(i * 1.5)},
                                        {"v1", Value(100.0 + i)}});
                c->addSample(s, level);
                c->setID(i, level);
            }
        }
        return c;
    }

    // A storage-type-2 collector with items en0, en1 and five level-0 samples each.
    std::shared_ptr<fwtest::TestDevicesCollector> devices() {
        auto c = std::make_shared<fwtest::TestDevicesCollector>();
        for (int i = 1; i <= 5; ++i) {
            c->sampleIndexRecord(0)->sampleID = i;
            c->sampleIndexRecord(0)->time = T - 5 + i;
            c->updateStats();
        }
        return c;
    }

    void expectGolden(const std::string& name, const std::vector<StatNodePtr>& nodes) {
        std::string golden;
        std::string text = fwtest::nodesText(nodes);
        EXPECT_TRUE(fwtest::matchesGolden(name, text, golden)) << name << ":\n" << text << "\nexpected:\n" << golden;
    }
};

TEST_F(RequestTest, EachSamplesEntryIsOneLevel) {
    auto c = values();
    auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("27|23")}, {"protocol", NSInt(3)}}));
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(*nodes[0]->attribute("samples"), "3");
    EXPECT_EQ(*nodes[1]->attribute("samples"), "2");
    EXPECT_EQ(*nodes[1]->attribute("interval"), "1");
    expectGolden("values_two_levels.xml", nodes);
}

TEST_F(RequestTest, SampleKeysThatAreNotNumbersReadAsZero) {
    auto c = values();
    auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("abc||29")}, {"protocol", NSInt(3)}}));
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(*nodes[0]->attribute("samples"), "30");
    EXPECT_EQ(*nodes[1]->attribute("samples"), "25");
    EXPECT_EQ(*nodes[2]->attribute("samples"), "0") << "level 2 is empty";
    EXPECT_TRUE(c->xmlNodesFromAttributes(request({{"protocol", NSInt(3)}})).empty()) << "no \"samples\": nothing";
}

TEST_F(RequestTest, RequestsNameAtMostNineLevels) {
    auto c = values();
    auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("0|0|0|0|0|0|0|0|0|0|0|0")}}));
    ASSERT_EQ(nodes.size(), 9u);
    EXPECT_EQ(*nodes.back()->attribute("interval"), "8");
    // The per-level hook never reads outside the levels, whatever index it is handed.
    for (const Value& index : {Value(9), Value(-1), Value(1000000), Value(1.5)}) {
        Value attrs = request({{"index", index}, {"sampleKey", Value("-1")}});
        EXPECT_TRUE(c->xmlSampleItemsFromAttributes(attrs).empty()) << index.description();
    }
    EXPECT_EQ(c->xmlSampleItemsFromAttributes(request({{"index", Value("1")}, {"sampleKey", Value("0")}})).size(), 25u);
}

TEST_F(RequestTest, PartialMarksEveryStatElement) {
    auto c = values();
    for (const Value& v : {Value(""), Value("0"), Value("yes")}) {
        auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("30|25")}, {"partial", v}}));
        ASSERT_EQ(nodes.size(), 2u);
        for (const auto& n : nodes) {
            ASSERT_NE(n->attribute("partial"), nullptr);
            EXPECT_EQ(*n->attribute("partial"), "1");
        }
    }
    auto plain = c->xmlNodesFromAttributes(request({{"samples", Value("30")}}));
    EXPECT_EQ(plain[0]->attribute("partial"), nullptr);
}

TEST_F(RequestTest, ItemsEntriesAreAnsweredInOrderAndSendAnItemOncePerLevel) {
    auto c = devices();
    Value items;
    items.append(request({{"samples", Value("3")}, {"keys", Value("en1")}}));
    items.append(request({{"samples", Value("0")}, {"keys", Value("en0,en1")}}));
    items.append(request({{"keys", Value("en0")}}));  // keeps the request's own "samples"
    auto nodes = c->xmlNodesFromAttributes(
        request({{"samples", Value("4")}, {"protocol", NSInt(2)}, {"items", items}}));
    ASSERT_EQ(nodes.size(), 3u);
    ASSERT_EQ(nodes[0]->children.size(), 1u);
    EXPECT_EQ(*nodes[0]->children[0]->attribute("uuid"), "en1");
    ASSERT_EQ(nodes[1]->children.size(), 1u) << "en1 was sent already";
    EXPECT_EQ(*nodes[1]->children[0]->attribute("uuid"), "en0");
    EXPECT_TRUE(nodes[2]->children.empty());
    EXPECT_EQ(nodes[0]->attribute("samples"), nullptr) << "no count on storage-type-2 stat elements";
    expectGolden("devices_items_entries.xml", nodes);
}

TEST_F(RequestTest, KeyKeysAndAlternateKeysSelectItems) {
    auto c = devices();
    c->itemWithKey("en1")->setAlternateKey("wifi");
    struct Case {
        ValueDictionary extra;
        std::vector<std::string> sent;
    } cases[] = {
        {{}, {"en0", "en1"}},
        {{{"key", Value("en1")}}, {"en1"}},
        {{{"keys", Value("wifi")}}, {"en1"}},
        {{{"keys", Value("en0")}, {"key", Value("en1")}}, {"en0"}},
        {{{"keys", Value("nothing")}}, {}},
    };
    for (const auto& k : cases) {
        Value r = request({{"samples", Value("4")}});
        for (const auto& [key, v] : k.extra) r.set(key, v);
        auto nodes = c->xmlNodesFromAttributes(r);
        ASSERT_EQ(nodes.size(), 1u);
        std::vector<std::string> sent;
        for (const auto& item : nodes[0]->children) sent.push_back(*item->attribute("uuid"));
        EXPECT_EQ(sent, k.sent) << r.description();
        EXPECT_EQ(*nodes[0]->attribute("type"), "testdevices");
    }
}

TEST_F(RequestTest, TemporaryItemsAreSentOnceAnyItemIsLive) {
    auto c = std::make_shared<fwtest::TestDevicesCollector>(std::vector<std::string>{});
    c->itemWithKey("old0", true);
    c->itemWithKey("old1", true);
    auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("-1")}}));
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_TRUE(nodes[0]->children.empty()) << "only temporary items: none sent";
    c->newItemWithKey("en0");
    nodes = c->xmlNodesFromAttributes(request({{"samples", Value("-1")}}));
    ASSERT_EQ(nodes[0]->children.size(), 3u);
    EXPECT_EQ(*nodes[0]->children[0]->attribute("uuid"), "old0");
}

TEST_F(RequestTest, LevelsAboveZeroWaitForItemHistory) {
    // No history file: the load of each item ends at once and the item is then sent.
    auto c = devices();
    std::vector<std::string> lines;
    fwtest::LogCapture capture(lines);
    const int64_t before = c->session();
    platform::Clock::advance(5);
    auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("0|0")}, {"key", Value("en0")}}));
    ASSERT_EQ(nodes.size(), 2u);
    for (const auto& item : c->items()) EXPECT_TRUE(item->loadedHistory()) << "a key alone still loads every item";
    ASSERT_EQ(nodes[1]->children.size(), 1u) << "but limits the items sent";
    EXPECT_EQ(*nodes[1]->children[0]->attribute("uuid"), "en0");
    EXPECT_GT(c->session(), before);
    EXPECT_EQ(nodes[1]->attribute("loading"), nullptr);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "finished loading history"), 2);
}

TEST_F(RequestTest, ShouldAddSampleItemHookFiltersItems) {
    struct Picky : fwtest::TestDevicesCollector {
        bool xmlShouldAddSampleItem(const StatCollectorItem& item) override { return item.key() != "en0"; }
        void xmlPrepareStatNode(StatNode& node) override { addKey("extra", Value(7), node); }
    };
    auto c = std::make_shared<Picky>();
    for (int i = 1; i <= 2; ++i) {
        c->sampleIndexRecord(0)->sampleID = i;
        c->updateStats();
    }
    auto nodes = c->xmlNodesFromAttributes(request({{"samples", Value("0")}}));
    ASSERT_EQ(nodes[0]->children.size(), 1u);
    EXPECT_EQ(*nodes[0]->children[0]->attribute("uuid"), "en1");
    EXPECT_EQ(nodes[0]->attributes[4].first, "extra") << "added after type, interval, id and session";
}

}  // namespace

namespace {

TEST(FrameworkLogTest, LinesGoToTheDaemonLog) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    setDaemonLogStream(f);
    auto c = std::make_shared<fwtest::TestDevicesCollector>();
    c->newItemWithKey("en0");
    c->xmlNodesFromAttributes(Value(ValueDictionary{{"samples", Value("0|0")}}));
    setDaemonLogStream(nullptr);
    std::rewind(f);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, f)) text += buf;
    std::fclose(f);
    EXPECT_NE(text.find(": loading history for item " + c->itemWithKey("en0")->description() + "\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find(": finished loading history\n"), std::string::npos) << text;
}

}  // namespace
