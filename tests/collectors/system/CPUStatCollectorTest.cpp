// The CPU collector against fixture machines: golden replies, the averages over the
// processors actually measured, unchanged and restarted counters, failed reads, physical
// cores, the shared instance.
#include <gtest/gtest.h>

#include <cmath>

#include "SystemFixture.h"

using namespace telvo;

namespace {

class CPUStatCollectorTest : public systest::SystemFixture {
protected:
    // The collector set up on the fixture machine and started as the daemon starts it.
    std::shared_ptr<CPUStatCollectorMac> started() {
        auto c = CPUStatCollectorMac::sharedCPUCollector();
        startCollector(*c);
        return c;
    }
};

TEST_F(CPUStatCollectorTest, GoldenRepliesForProtocols0To3) {
    auto c = started();
    useLater("/proc/stat", "stat-1");
    tick();
    useLater("/proc/stat", "stat-2");  // processor 3 goes offline
    tick();
    for (int protocol : {0, 2, 3})
        expectGolden("cpu_v" + std::to_string(protocol) + ".xml", c->xmlNodesFromAttributes(request("0", protocol)));

    auto samples = samplesOf(c->xmlNodesFromAttributes(request("0", 3)));
    ASSERT_EQ(samples.size(), 2u);
    // Tick 1: (50 + 10 + 0 + 0) / 4 user, (25 + 10) / 4 system, 10 / 4 nice; steal counts in
    // processor 1's total; processor 3's unchanged counters are 0 %, not NaN.
    EXPECT_EQ(attr(samples[0], "u"), "15.00");
    EXPECT_EQ(attr(samples[0], "s"), "8.75");
    EXPECT_EQ(attr(samples[0], "n"), "2.50");
    // Tick 2: three processors measured, so (100 + 0 + 50) / 3, not / 4.
    EXPECT_EQ(attr(samples[1], "u"), "50.00");
    EXPECT_EQ(attr(samples[1], "s"), "0.00");
    for (const auto& s : samples) {
        EXPECT_EQ(attr(s, "ent"), "0.00");
        EXPECT_EQ(attr(s, "phys"), "0.00");
        EXPECT_EQ(attr(s, "io"), "<absent>");
    }
}

TEST_F(CPUStatCollectorTest, UnchangedCountersGiveZeroNotNaN) {
    auto c = started();
    tick();  // the counters are the ones setup read
    auto samples = samplesOf(c->xmlNodesFromAttributes(request("0", 3)));
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(attr(samples[0], "u"), "0.00");
    EXPECT_EQ(attr(samples[0], "s"), "0.00");
    EXPECT_EQ(attr(samples[0], "n"), "0.00");
    EXPECT_EQ(attr(samples[0], "empty"), "<absent>");
    const statsample live = c->sampleAtIndex(0, 0);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(std::isnan(live.values[i]));
}

TEST_F(CPUStatCollectorTest, FailedReadStoresAnEmptySampleAndTheNextReadGoesOn) {
    auto c = started();
    removeMachineFile("/proc/stat");
    tick();
    useLater("/proc/stat", "stat-1");
    tick();
    auto samples = samplesOf(c->xmlNodesFromAttributes(request("0", 3)));
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(attr(samples[0], "empty"), "1");
    EXPECT_EQ(attr(samples[0], "u"), "0.00");
    // The good reading is compared with the last good one, from setup.
    EXPECT_EQ(attr(samples[1], "empty"), "<absent>");
    EXPECT_EQ(attr(samples[1], "u"), "15.00");

    // A file with no processor line is a failed read too, not a sample of zeros.
    writeMachineFile("/proc/stat", "cpu  1 2 3 4\nbtime 1699990000\n");
    tick();
    EXPECT_EQ(c->sampleAtIndex(0, 0).empty, 1);
}

TEST_F(CPUStatCollectorTest, CountersPast32BitsAndCountersThatStartAgain) {
    writeMachineFile("/proc/stat", "cpu0 4294967290 0 0 4294967200 0 0 0 0 0 0\n"
                                   "cpu1 5000 0 0 5000 0 0 0 0 0 0\n");
    auto c = started();
    // Processor 0 passes 2^32 (a small difference); processor 1's counters went back (it
    // restarted): it is not measured this tick, so the average is processor 0's alone.
    writeMachineFile("/proc/stat", "cpu0 4294967330 0 0 4294967260 0 0 0 0 0 0\n"
                                   "cpu1 10 0 0 10 0 0 0 0 0 0\n");
    tick();
    EXPECT_FLOAT_EQ(c->sampleAtIndex(0, 0).values[0], 40.f);
    // Next tick processor 1 is compared with its new counters.
    writeMachineFile("/proc/stat", "cpu0 4294967330 0 0 4294967360 0 0 0 0 0 0\n"
                                   "cpu1 110 0 0 10 0 0 0 0 0 0\n");
    tick();
    EXPECT_FLOAT_EQ(c->sampleAtIndex(0, 0).values[0], 50.f);
    auto item1 = std::static_pointer_cast<CPUStatCollectorItem>(c->items()[1]);
    EXPECT_EQ(item1->sampleID(), 1);
    EXPECT_FLOAT_EQ(item1->sampleAtIndex(0, 5).values[0], 100.f);
}

TEST_F(CPUStatCollectorTest, ProcessorsAndPhysicalCores) {
    {
        // 4 logical, 2 physical: hardware threads 0+2 and 1+3 share a core.
        auto c = started();
        EXPECT_EQ(c->logicalCoreCount(), 4);
        EXPECT_EQ(c->physicalCoreCount(), 2);
        EXPECT_TRUE(c->hyperThreading());
        EXPECT_EQ(c->coreCount(), 4);
        ASSERT_EQ(c->items().size(), 4u);
        for (const auto& item : c->items()) EXPECT_EQ(item->sampleValueCount(), CPUStatCollector::sampleCount());
        ASSERT_EQ(c->physicalCores().size(), 2u);
        useLater("/proc/stat", "stat-1");
        tick();
        // Core 0 = processors 0 (50 user, 25 system) and 2 (idle); core 1 = 1 (10, 10) and 3.
        statsample core0 = c->physicalCores()[0]->sampleAtIndex(0, 0);
        statsample core1 = c->physicalCores()[1]->sampleAtIndex(0, 0);
        EXPECT_FLOAT_EQ(core0.values[0], 25.f);
        EXPECT_FLOAT_EQ(core0.values[1], 12.5f);
        EXPECT_FLOAT_EQ(core1.values[0], 5.f);
        EXPECT_FLOAT_EQ(core1.values[2], 0.f);
        CPUStatCollectorMac::resetForTesting();
    }
    // 4 logical, 4 physical: no physical-core items.
    for (int cpu : {2, 3}) writeMachineFile("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/core_id", std::to_string(cpu) + "\n");
    auto c = started();
    EXPECT_EQ(c->physicalCoreCount(), 4);
    EXPECT_FALSE(c->hyperThreading());
    EXPECT_TRUE(c->physicalCores().empty());
}

TEST_F(CPUStatCollectorTest, ProcessorsBeyondTheSetupCountAreNotCounted) {
    // Setup saw processors 0 and 1 only (no sysfs): a processor 5 appearing later stays
    // outside the per-processor arrays.
    removeMachineFile("/sys");
    writeMachineFile("/proc/stat", "cpu0 0 0 0 100\ncpu1 0 0 0 100\n");
    auto c = started();
    EXPECT_EQ(c->coreCount(), 2);
    EXPECT_FALSE(c->hyperThreading());
    writeMachineFile("/proc/stat", "cpu0 100 0 0 100\ncpu1 0 0 0 200\ncpu5 100 0 0 0\n");
    tick();
    EXPECT_FLOAT_EQ(c->sampleAtIndex(0, 0).values[0], 50.f);
}

TEST_F(CPUStatCollectorTest, SharedInstanceAndStatElement) {
    auto a = CPUStatCollectorMac::sharedCPUCollector();
    EXPECT_EQ(a, CPUStatCollectorMac::sharedCPUCollector());
    CPUStatCollectorMac::cleanupShared();
    EXPECT_TRUE(a->stopped());
    auto b = CPUStatCollectorMac::sharedCPUCollector();
    EXPECT_NE(a, b);
    EXPECT_EQ(b->taskCount(), 3);
    EXPECT_EQ(b->threadCount(), 389);
    auto nodes = b->xmlNodesFromAttributes(request("0", 3));
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(attr(nodes[0], "tasks"), "3");
    EXPECT_EQ(attr(nodes[0], "threads"), "389");
    EXPECT_EQ(attr(nodes[0], "type"), "cpu");
}

}  // namespace

namespace {

TEST_F(CPUStatCollectorTest, TaskCountsAreReadWhileClientsAskForThem) {
    auto c = started();
    ASSERT_EQ(c->taskCount(), 3);
    // A new process: no client asks, so the ticks leave /proc unwalked.
    writeMachineFile("/proc/4242/stat", "4242 (new) S 1\n");
    tick();
    tick();
    EXPECT_EQ(c->taskCount(), 3);
    // A reply with counts older than a tick reads them first: it never shows stale ones.
    auto nodes = c->xmlNodesFromAttributes(request("0", 3));
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(attr(nodes[0], "tasks"), "4");
    // While clients ask, every tick reads them again.
    removeMachineFile("/proc/4242");
    tick();
    EXPECT_EQ(c->taskCount(), 3);
}

}  // namespace
