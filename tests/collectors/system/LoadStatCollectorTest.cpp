// The load collector against fixture machines.
#include <gtest/gtest.h>

#include "SystemFixture.h"

using namespace telvo;

namespace {

class LoadStatCollectorTest : public systest::SystemFixture {};

TEST_F(LoadStatCollectorTest, GoldenRepliesForProtocols0To3) {
    auto c = LoadStatCollectorMac::sharedLoadCollector();
    startCollector(*c);
    tick();
    useLater("/proc/loadavg", "loadavg-2");
    tick();
    for (int protocol : {0, 2, 3})
        expectGolden("load_v" + std::to_string(protocol) + ".xml", c->xmlNodesFromAttributes(request("0", protocol)));
    auto samples = samplesOf(c->xmlNodesFromAttributes(request("0", 3)));
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(attr(samples[0], "one"), "1.00");
    EXPECT_EQ(attr(samples[0], "five"), "0.05");
    EXPECT_EQ(attr(samples[0], "fifteen"), "12.75");
    EXPECT_EQ(attr(samples[1], "one"), "2.50");
}

TEST_F(LoadStatCollectorTest, FailedOrMalformedReadStoresAnEmptySample) {
    auto c = LoadStatCollectorMac::sharedLoadCollector();
    startCollector(*c);
    tick();
    removeMachineFile("/proc/loadavg");
    tick();
    writeMachineFile("/proc/loadavg", "garbage\n");
    tick();
    auto samples = samplesOf(c->xmlNodesFromAttributes(request("0", 3)));
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(attr(samples[0], "empty"), "<absent>");
    for (int i : {1, 2}) {
        EXPECT_EQ(attr(samples[i], "empty"), "1");
        EXPECT_EQ(attr(samples[i], "one"), "0.00") << "no value from an unread record";
    }
}

TEST_F(LoadStatCollectorTest, StoredRowsUnderOlderNamesFillFiveAndFifteen) {
    auto c = LoadStatCollectorMac::sharedLoadCollector();
    c->addSample(Value(ValueDictionary{{"sample", Value(1)}, {"time", Value(kStart)}, {"one", Value(0.5)},
                                       {"fv", Value(1.5)}, {"ff", Value(2.5)}}),
                 1);
    statsample s = c->sampleAtIndex(0, 1);
    EXPECT_EQ(s.values[0], 0.5);
    EXPECT_EQ(s.values[1], 1.5);
    EXPECT_EQ(s.values[2], 2.5);
}

}  // namespace
