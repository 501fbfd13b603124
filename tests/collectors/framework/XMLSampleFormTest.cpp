// The XML sample form: number formats, protocol scaling, "since" selection, non-finite values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "collectors/framework/TestCollectors.h"
#include "collectors/framework/XMLNumberFormat.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

constexpr double T = 1700000000.0;

// The worked example's collector: "p" at 0 and "u" at 1, u divided by 1048576 for
// protocols 0 to 2.
std::shared_ptr<fwtest::TestValuesCollector> exampleCollector() {
    auto c = std::make_shared<fwtest::TestValuesCollector>(2);
    Value& cfg = c->config();
    cfg.set("xmlSampleKeys", Value(ValueDictionary{{"p", NSInt(0)}, {"u", NSInt(1)}}));
    cfg.set("xmlSampleDivide", NSDouble(1048576));
    cfg.set("xmlSampleDivideProtocols", Value(ValueArray{NSInt(0), NSInt(1), NSInt(2)}));
    cfg.set("xmlSampleDivideExcludeKeys", Value(ValueArray{Value("p")}));
    statsample* live = c->storageForType(0);
    live[0].sampleID = 7;
    live[0].time = T + 0.4;
    live[0].empty = 0;
    live[0].values[0] = 42.5;
    live[0].values[1] = 2147483648.0;
    c->setID(7, 0);
    return c;
}

TEST(XMLSampleFormTest, NumberTexts) {
    struct Case {
        double v;
        const char* value;
        const char* whole;
    } cases[] = {
        {42.5, "42.50", "42"},  // ties of "%.0f" go to even
        {43.5, "43.50", "44"},
        {T + 0.6, "1700000000.60", "1700000001"},  // rounded, not truncated
        {-0.004, "-0.00", "-0"},
        {std::nan(""), "", ""},
        {std::numeric_limits<double>::infinity(), "", ""},
        {-std::numeric_limits<double>::infinity(), "", ""},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(xmlnumber::value(k.v), k.value) << k.v;
        EXPECT_EQ(xmlnumber::whole(k.v), k.whole) << k.v;
    }
    EXPECT_EQ(xmlnumber::integer(-12), "-12");
}

// The texts are made without printf; they must be printf's, ties, negative zero and the
// extremes included, and over a spread of ordinary sample values.
TEST(XMLSampleFormTest, NumberTextsAreThoseOfPrintf) {
    auto printed = [](const char* fmt, double v) {
        char buf[400];
        int n = std::snprintf(buf, sizeof buf, fmt, v);
        return std::string(buf, size_t(n));
    };
    std::vector<double> values = {0.0,   -0.0,   0.005, 0.015, 0.125, 0.375, -0.125, 1.005, 2.675, 0.5,
                                  1.5,   2.5,    -0.5,  -1.5,  -2.5,  1e-300, -1e-300, 4.9e-324,
                                  1e15 + 0.5, 4503599627370495.5, 9007199254740993.0, 1e22, -1e22,
                                  std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(), 2147483648.0, 1800000000.5, T + 0.4};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 20000; ++i) {
        values.push_back(double(int64_t(next() % 2000000) - 1000000) / 8.0);  // exact ties of both formats
        values.push_back(double(int64_t(next() % 200000000) - 100000000) / 1000.0);
        double bits;
        uint64_t raw = next();
        std::memcpy(&bits, &raw, sizeof bits);
        if (std::isfinite(bits)) values.push_back(bits);
    }
    for (double v : values) {
        ASSERT_EQ(xmlnumber::value(v), printed("%.2f", v)) << v;
        ASSERT_EQ(xmlnumber::whole(v), printed("%.0f", v)) << v;
    }
    for (int64_t v : {int64_t(0), int64_t(-1), std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()})
        EXPECT_EQ(xmlnumber::integer(v), std::to_string(v));
    std::string appended = "x=";
    xmlnumber::appendValue(appended, 1.005);
    xmlnumber::appendWhole(appended, std::nan(""));
    EXPECT_EQ(appended, "x=1.00");
}

TEST(XMLSampleFormTest, WorkedExampleScalesPerProtocol) {
    auto c = exampleCollector();
    struct Case {
        int64_t protocol;
        const char* u;
    } cases[] = {{0, "2048.00"}, {2, "2048.00"}, {3, "2147483648.00"}};
    for (const auto& k : cases) {
        auto nodes = c->xmlNodesFromAttributes(
            Value(ValueDictionary{{"samples", Value("6")}, {"protocol", NSInt(k.protocol)}}));
        ASSERT_EQ(nodes.size(), 1u);
        const StatNode& stat = *nodes[0];
        EXPECT_EQ(*stat.attribute("type"), "testvalues");
        EXPECT_EQ(*stat.attribute("interval"), "0");
        EXPECT_EQ(*stat.attribute("id"), "7");
        EXPECT_EQ(*stat.attribute("samples"), "1");
        ASSERT_EQ(stat.children.size(), 1u);
        const StatNode& s = *stat.children[0];
        EXPECT_EQ(s.name, "s");
        EXPECT_EQ(*s.attribute("p"), "42.50");
        EXPECT_EQ(*s.attribute("u"), k.u) << k.protocol;
        EXPECT_EQ(*s.attribute("time"), "1700000000");
        EXPECT_EQ(*s.attribute("id"), "7");
        EXPECT_EQ(s.attribute("empty"), nullptr);
    }
}

TEST(XMLSampleFormTest, ScalingRules) {
    struct Case {
        const char* what;
        ValueDictionary config;
        const char* name;
        int64_t protocol;
        double expect;
    } cases[] = {
        {"divisor without protocol list applies to all", {{"xmlSampleDivide", NSDouble(4)}}, "x", 9, 2.5},
        {"excluded name never divided",
         {{"xmlSampleDivide", NSDouble(4)}, {"xmlSampleDivideExcludeKeys", Value(ValueArray{Value("x")})}},
         "x", 1, 10},
        {"protocol not listed",
         {{"xmlSampleDivide", NSDouble(4)}, {"xmlSampleDivideProtocols", Value(ValueArray{NSInt(1)})}}, "x", 3, 10},
        {"non-number protocol entry never matches",
         {{"xmlSampleDivide", NSDouble(4)}, {"xmlSampleDivideProtocols", Value(ValueArray{Value("3")})}}, "x", 3,
         10},
        {"divide first, then multiply",
         {{"xmlSampleDivide", NSDouble(4)}, {"xmlSampleMultiply", NSDouble(3)}}, "x", 0, 7.5},
        {"multiply alone", {{"xmlSampleMultiply", NSDouble(0.5)}}, "x", 0, 5},
    };
    for (const auto& k : cases) {
        auto c = std::make_shared<fwtest::TestValuesCollector>(1);
        c->config().set("xmlSampleKeys", Value(ValueDictionary{{k.name, NSInt(0)}}));
        for (const auto& [key, v] : k.config) c->config().set(key, v);
        statsample s = c->sampleAtIndex(0, 0);
        s.values[0] = 10;
        s.empty = 0;
        Value d = c->xmlSampleFromSample(s, k.protocol);
        EXPECT_EQ(d[k.name].stringValue(), xmlnumber::value(k.expect)) << k.what;
    }
}

TEST(XMLSampleFormTest, NonFiniteValuesAndBadPositionsAreMissingValues) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(2);
    c->config().set("xmlSampleKeys",
                    Value(ValueDictionary{{"nan", NSInt(0)}, {"big", NSInt(1)}, {"out", NSInt(2)}, {"neg", NSInt(-1)}}));
    c->config().set("xmlSampleDivide", NSDouble(0));  // a zero divisor
    c->config().set("xmlSampleDivideExcludeKeys", Value(ValueArray{Value("nan")}));
    statsample s = c->sampleAtIndex(0, 0);
    s.values[0] = std::nan("");
    s.values[1] = 5;
    s.empty = 1;
    Value d = c->xmlSampleFromSample(s, 0);
    for (const char* name : {"nan", "big", "out", "neg"}) {
        ASSERT_TRUE(d.has(name)) << name;
        EXPECT_EQ(d[name].stringValue(), "") << name;
    }
    EXPECT_EQ(d["empty"].stringValue(), "1");
}

TEST(XMLSampleFormTest, EmptyKeyTableGivesOnlyTimeIdAndEmpty) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(1);
    c->config().set("xmlSampleKeys", Value(ValueDictionary{}));
    c->storageForType(0)[0] = statsample{3, 12.0, 1, 0, c->storageForType(0)[0].values};
    auto nodes = c->xmlNodesFromAttributes(Value(ValueDictionary{{"samples", Value("2")}}));
    ASSERT_EQ(nodes[0]->children.size(), 1u);
    const auto& attrs = nodes[0]->children[0]->attributes;
    ASSERT_EQ(attrs.size(), 3u);
    EXPECT_EQ(*nodes[0]->children[0]->attribute("empty"), "1");
}

TEST(XMLSampleFormTest, SinceSelectionForItems) {
    auto c = std::make_shared<fwtest::TestDevicesCollector>();
    auto item = c->newItemWithKey("en0");
    // A never-filled ring: -1 still gives the newest slot, empty, id "-1".
    ValueArray fresh = item->xmlSamplesSinceID(-1, 0, 3);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0]["id"].stringValue(), "-1");
    EXPECT_TRUE(fresh[0]["empty"].boolValue());
    EXPECT_EQ(fresh[0]["rx"].stringValue(), "0.00");
    for (int n = 1; n <= 5; ++n)
        item->addSample(Value(ValueDictionary{{"sample", Value(n)}, {"time", Value(T + n)}, {"rx", Value(n * 1.0)}}), 0);
    EXPECT_TRUE(item->xmlSamplesSinceID(5, 0, 3).empty()) << "since the newest: nothing";
    ValueArray one = item->xmlSamplesSinceID(4, 0, 3);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]["id"].stringValue(), "5");
    ValueArray all = item->xmlSamplesSinceID(0, 0, 3);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0]["id"].stringValue(), "1") << "oldest first";
    ValueArray newest = item->xmlSamplesSinceID(-1, 0, 3);
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0]["rx"].stringValue(), "5.00");
    EXPECT_EQ(newest[0]["id"].stringValue(), "-1");
}

TEST(XMLSampleFormTest, MinusOneForAStorageTypeOneCollectorSendsEverySlot) {
    auto c = exampleCollector();
    auto nodes = c->xmlNodesFromAttributes(Value(ValueDictionary{{"samples", Value("-1")}, {"protocol", NSInt(3)}}));
    ASSERT_EQ(nodes[0]->children.size(), 602u);
    EXPECT_EQ(*nodes[0]->attribute("samples"), "602");
    EXPECT_EQ(*nodes[0]->children[0]->attribute("id"), "0");
    EXPECT_EQ(*nodes[0]->children[0]->attribute("empty"), "1");
    EXPECT_EQ(*nodes[0]->children[601]->attribute("id"), "7");
}

}  // namespace
