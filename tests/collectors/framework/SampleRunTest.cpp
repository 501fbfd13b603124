// A reply's copied samples against the per-sample dictionaries: the same text for every
// scaling, key table (names that meet "empty", "time" and "id", positions out of range,
// names that need escaping), empty and never-filled slots, levels and since-numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "collectors/framework/NodeText.h"
#include "collectors/framework/SampleRun.h"
#include "collectors/framework/StatNodeWriter.h"
#include "collectors/framework/TestCollectors.h"

using namespace telvo;

namespace {

std::shared_ptr<fwtest::TestValuesCollector> filledCollector() {
    auto c = std::make_shared<fwtest::TestValuesCollector>(3);
    for (int level = 0; level < 3; ++level) {
        statsample* ring = c->storageForType(level);
        for (int slot = 0; slot < 590; ++slot) {  // the oldest slots stay never filled
            statsample& s = ring[slot];
            s.sampleID = 5000 - slot;
            s.time = 1700000000.5 - slot;
            s.empty = slot % 7 == 3;
            s.values[0] = slot * 0.125 - 20;
            s.values[1] = slot % 11 == 0 ? std::nan("") : slot * 1048576.0 + 0.005;
            s.values[2] = -0.0;
        }
        c->setID(5000, level);
    }
    return c;
}

TEST(SampleRunTest, CopiedSamplesGiveTheTextOfTheDictionaries) {
    struct Case {
        const char* what;
        ValueDictionary config;
    } cases[] = {
        {"plain keys", {{"xmlSampleKeys", Value(ValueDictionary{{"a", Value(0)}, {"b", Value(1)}, {"c", Value(2)}})}}},
        {"no keys", {}},
        {"names that meet the fixed ones",
         {{"xmlSampleKeys", Value(ValueDictionary{{"empty", Value(0)}, {"time", Value(1)}, {"id", Value(2)},
                                                  {"zz", Value(1)}, {"", Value(0)}, {"q\"<&", Value(2)}})}}},
        {"positions out of range or not numbers",
         {{"xmlSampleKeys", Value(ValueDictionary{{"x", Value(3)}, {"y", Value(-1)}, {"z", Value("two")}})}}},
        {"divide for some protocols, one name excluded, then multiply",
         {{"xmlSampleKeys", Value(ValueDictionary{{"a", Value(0)}, {"b", Value(1)}})},
          {"xmlSampleDivide", Value(1048576)},
          {"xmlSampleDivideProtocols", Value(ValueArray{Value(0), Value(1), Value(2)})},
          {"xmlSampleDivideExcludeKeys", Value(ValueArray{Value("a")})},
          {"xmlSampleMultiply", Value(3.5)}}},
    };
    for (const auto& k : cases) {
        for (int64_t protocol : {2, 3}) {
            for (const char* samples : {"-1|-1|-1", "0|4990|4412", "4999", "5000", "junk|1e3", "-1|-1|-1|-1|-1"}) {
                SCOPED_TRACE(std::string(k.what) + " protocol " + std::to_string(protocol) + " samples " + samples);
                auto c = filledCollector();
                for (const auto& [key, value] : k.config) c->config().set(key, value);
                Value request(ValueDictionary{{"samples", Value(samples)}, {"protocol", Value(protocol)}});
                auto reply = c->xmlReplyNodesFromAttributes(request);
                auto nodes = c->xmlNodesFromAttributes(request);
                EXPECT_EQ(fwtest::nodesText(reply), fwtest::nodesText(nodes));
                EXPECT_EQ(statnodewriter::document(104, reply), statnodewriter::document(104, nodes));
                if (std::string(samples) == "4999") {  // the reply copied the slots, the request made nodes
                    ASSERT_EQ(reply.size(), 1u);
                    ASSERT_TRUE(reply[0]->samples);
                    EXPECT_EQ(reply[0]->samples->size(), 1u);
                    EXPECT_TRUE(reply[0]->children.empty());
                    EXPECT_EQ(nodes[0]->children.size(), 1u);
                }
            }
        }
    }
}

}  // namespace
