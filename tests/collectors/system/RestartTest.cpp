// A daemon restart: the CPU, load and memory collectors reload their stored levels and fill
// the time the daemon was away with empty samples.
#include <gtest/gtest.h>

#include "SystemFixture.h"

using namespace telvo;

namespace {

class RestartTest : public systest::SystemFixture {
protected:
    std::vector<std::shared_ptr<StatCollector>> startAll() {
        std::vector<std::shared_ptr<StatCollector>> all = {CPUStatCollectorMac::sharedCPUCollector(),
                                                           LoadStatCollectorMac::sharedLoadCollector(),
                                                           MemoryStatCollectorMac::sharedMemoryCollector()};
        for (auto& c : all) startCollector(*c);
        return all;
    }
    static int count(const StatCollector& c, int64_t level, bool empty) {
        int n = 0;
        const statsample* ring = c.storageForType(level);
        for (int64_t i = 0; i < kSamplesPerLevel; ++i)
            if (ring[i].sampleID > 0 && (ring[i].empty != 0) == empty) ++n;
        return n;
    }
};

TEST_F(RestartTest, HistoryIsReloadedAndTheGapFilledWithEmptySamples) {
    auto first = startAll();
    dispatch::MainLoop::runFor(60);  // ten hour-level samples
    std::vector<int> stored;
    for (auto& c : first) {
        stored.push_back(count(*c, 1, false));
        EXPECT_GE(stored.back(), 9) << c->description();
        c->runDatabaseQueue();
    }
    flush();
    EXPECT_EQ(sqlNumber(fwtest::kLocalDB, "select count(*) from hour_cpuhistory where empty = 0"), stored[0]);
    first.clear();
    CPUStatCollectorMac::resetForTesting();
    LoadStatCollectorMac::resetForTesting();
    MemoryStatCollectorMac::resetForTesting();
    dispatch::MainLoop::runUntilIdle();

    platform::Clock::advance(120);  // the daemon is away for two minutes
    auto second = startAll();
    for (size_t i = 0; i < second.size(); ++i) {
        auto& c = second[i];
        EXPECT_EQ(count(*c, 1, false), stored[i]) << c->description() << ": every stored sample reloaded";
        EXPECT_GE(count(*c, 1, true), 19) << c->description() << ": two minutes of empty hour samples";
        EXPECT_LE(count(*c, 1, true), 21) << c->description();
    }
    // The reloaded values are the stored ones: load's "one" of the fixture.
    int64_t newestStored = 0;
    while (newestStored < kSamplesPerLevel && second[1]->sampleAtIndex(newestStored, 1).empty) ++newestStored;
    ASSERT_LT(newestStored, kSamplesPerLevel);
    EXPECT_DOUBLE_EQ(second[1]->sampleAtIndex(newestStored, 1).values[0], 1.0);
    // And sampling goes on.
    dispatch::MainLoop::runFor(12);
    EXPECT_GE(count(*second[0], 1, false), stored[0] + 1);
}

}  // namespace
