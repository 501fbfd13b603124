// Rings, slot writing, acceptance of new samples, averaging and clearing.
#include <gtest/gtest.h>

#include "collectors/framework/SampleTypes.h"
#include "collectors/framework/StatCollector.h"
#include "collectors/framework/TestCollectors.h"
#include "platform/time/Clock.h"

using namespace telvo;
using telvo::fwtest::TestValuesCollector;

namespace {

Value sample(std::initializer_list<std::pair<const std::string, Value>> entries) {
    return Value(ValueDictionary(entries));
}

class SampleLevelsTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Clock::useVirtual(1700000000.0); }
    void TearDown() override { platform::Clock::useReal(); }
};

TEST_F(SampleLevelsTest, PushSamplesShiftsByOneAndKeepsSlotZeroAndIndexes) {
    auto c = std::make_shared<TestValuesCollector>(2);
    statsample* ring = c->storageForType(0);
    for (int s = 0; s < kSamplesPerLevel; ++s) {
        ring[s].sampleID = 1000 - s;
        ring[s].time = 5000 - s;
        ring[s].empty = s % 2;
        ring[s].index = s;
        ring[s].values[0] = s;
        ring[s].values[1] = -s;
    }
    double* ownArrays[kSamplesPerLevel];
    for (int s = 0; s < kSamplesPerLevel; ++s) ownArrays[s] = ring[s].values;

    PushSamples(ring, 2);
    EXPECT_EQ(ring[0].sampleID, 1000);  // slot 0 untouched
    EXPECT_EQ(ring[0].values[0], 0);
    EXPECT_EQ(ring[601].sampleID, 1000 - 600);  // old slot 600 moved into 601
    EXPECT_EQ(ring[601].values[1], -600);
    EXPECT_EQ(ring[1].time, 5000);
    EXPECT_EQ(ring[1].empty, 0);
    EXPECT_EQ(ring[2].empty, 1);
    for (int s = 0; s < kSamplesPerLevel; ++s) {
        EXPECT_EQ(ring[s].index, s) << "index is not moved";
        EXPECT_EQ(ring[s].values, ownArrays[s]) << "each slot keeps its own array";
    }
    PushSamples(ring, 0);  // no values copied, the rest moves
    EXPECT_EQ(ring[2].sampleID, 1000);
    EXPECT_EQ(ring[2].values[0], 1);
}

TEST_F(SampleLevelsTest, RingsExistOnlyForLevelsZeroToEight) {
    auto c = std::make_shared<TestValuesCollector>(1);
    for (int64_t level : {-1L, 9L, 100L}) {
        EXPECT_EQ(c->storageForType(level), nullptr) << level;
        EXPECT_EQ(c->sampleAtIndex(0, level).empty, 1);
    }
    for (int64_t level = 0; level < 9; ++level) EXPECT_NE(c->storageForType(level), nullptr);
    EXPECT_EQ(c->sampleIndex(1).interval, 6);
    EXPECT_EQ(c->sampleIndex(2).historyIndex, 1);
    EXPECT_EQ(c->sampleIndex(3).historyIndex, 1);
    EXPECT_EQ(c->sampleIndex(7).historyIndex, 2);
    EXPECT_EQ(c->sampleIndex(8).interval, 300);
    EXPECT_EQ(c->sampleIndex(8).historyIndex, 0);
}

TEST_F(SampleLevelsTest, NewestSampleAcceptanceFollowsTheSampleNumber) {
    struct Case {
        const char* what;
        Value config_ids;
        Value dict;
        bool accepted;
        double number;
    } cases[] = {
        {"no number key: slot 0 + 1", Value(ValueArray{Value("sample")}), sample({{"v0", Value(1.0)}}), true, 6},
        {"zero number: slot 0 + 1", Value(ValueArray{Value("sample")}), sample({{"sample", Value(0)}}), true, 6},
        {"equal to slot 0: dropped", Value(ValueArray{Value("sample")}), sample({{"sample", Value(5)}}), false, 5},
        {"below slot 0: dropped", Value(ValueArray{Value("sample")}), sample({{"sample", Value(3)}}), false, 5},
        {"negative: dropped", Value(ValueArray{Value("sample")}), sample({{"sample", Value(-4)}}), false, 5},
        {"later key of two wins", Value(ValueArray{Value("a"), Value("b")}),
         sample({{"a", Value(100)}, {"b", Value(9)}}), true, 9},
        {"only first key present", Value(ValueArray{Value("a"), Value("b")}), sample({{"a", Value(12)}}), true, 12},
    };
    for (const auto& k : cases) {
        auto c = std::make_shared<TestValuesCollector>(1);
        c->config().set("addSampleIDKeys", k.config_ids);
        c->storageForType(1)[0].sampleID = 5;
        c->addSample(k.dict, 1);
        EXPECT_EQ(c->storageForType(1)[0].sampleID, k.number) << k.what;
        EXPECT_EQ(c->storageForType(1)[1].sampleID, k.accepted ? 5 : 0) << k.what;
    }
}

TEST_F(SampleLevelsTest, SlotWriterMapsValuesTimeAndEmpty) {
    auto c = std::make_shared<TestValuesCollector>(2);
    c->config().set("addSampleMap", Value(ValueDictionary{
                                        {"v0", NSInt(0)}, {"v1", NSInt(1)}, {"when", NSInt(-1)}, {"far", NSInt(7)}}));
    c->addSample(sample({{"v0", Value(1.5)}, {"v1", Value(2.5)}, {"when", Value(77.0)}, {"far", Value(9.0)},
                         {"empty", Value(2)}}),
                 1);
    statsample s = c->sampleAtIndex(0, 1);
    EXPECT_EQ(s.values[0], 1.5);
    EXPECT_EQ(s.values[1], 2.5);
    EXPECT_EQ(s.time, 77.0) << "position -1 is the time";
    EXPECT_EQ(s.empty, 2) << "the collector stores the integer value of \"empty\"";
    c->addSample(sample({{"when", Value(77.0)}, {"time", Value(80.0)}}), 1);
    EXPECT_EQ(c->sampleAtIndex(0, 1).time, 80.0) << "\"time\" wins over a -1 position";
    EXPECT_EQ(c->sampleAtIndex(0, 1).empty, 0);
}

TEST_F(SampleLevelsTest, StorageTypeTwoRingKeepsOnlyNumbersAndTimes) {
    auto c = std::make_shared<fwtest::TestDevicesCollector>();
    c->addSample(sample({{"sample", Value(4)}, {"time", Value(100.0)}}), 2);
    c->addSample(sample({{"sample", Value(2)}, {"time", Value(200.0)}}), 2);  // no acceptance test
    EXPECT_EQ(c->sampleAtIndex(0, 2).sampleID, 2);
    EXPECT_EQ(c->sampleAtIndex(1, 2).sampleID, 4);
    EXPECT_EQ(c->sampleAtIndex(1, 2).time, 100.0);
}

TEST_F(SampleLevelsTest, AveragingWindowsOfCollectorsAndItems) {
    auto c = std::make_shared<TestValuesCollector>(1);
    // Level 0 holds samples at t = 100..111 with value t.
    statsample* live = c->storageForType(0);
    for (int t = 100; t <= 111; ++t) {
        PushSamples(live, 1);
        live[0].sampleID = t;
        live[0].time = t;
        live[0].empty = (t == 105);
        live[0].values[0] = t;
    }
    sampleindexconfig* hour = c->sampleIndexRecord(1);
    hour->time = 108;  // window (102, 108.99]: 103,104,106,107,108 (105 empty)
    Value avg = c->averagesForIndex(1);
    EXPECT_FALSE(avg["empty"].boolValue());
    EXPECT_DOUBLE_EQ(avg["v0"].doubleValue(), (103 + 104 + 106 + 107 + 108) / 5.0);
    EXPECT_EQ(avg["time"].doubleValue(), platform::Clock::now()) << "the collector form carries now";

    hour->time = 50;  // nothing in (44, 50.99]
    avg = c->averagesForIndex(1);
    EXPECT_TRUE(avg["empty"].boolValue());
    EXPECT_EQ(avg["v0"].doubleValue(), 0);

    hour->time = 0;  // a level that never advanced averages every non-empty slot
    avg = c->averagesForIndex(1);
    EXPECT_FALSE(avg["empty"].boolValue());
    EXPECT_DOUBLE_EQ(avg["v0"].doubleValue(), (100 + 101 + 102 + 103 + 104 + 106 + 107 + 108 + 109 + 110 + 111) / 11.0);

    // An item level in the same state finds nothing in its window.
    auto d = std::make_shared<fwtest::TestDevicesCollector>();
    auto item = d->newItemWithKey("en0");
    statsample* itemLive = item->storageForType(0);
    itemLive[0].sampleID = 1;
    itemLive[0].time = 100;
    itemLive[0].empty = 0;
    itemLive[0].values[0] = 4;
    Value itemAvg = item->averagesForIndex(1);
    EXPECT_TRUE(itemAvg["empty"].boolValue());
    EXPECT_EQ(itemAvg["time"].doubleValue(), -6) << "the item form carries the window's start";
}

TEST_F(SampleLevelsTest, ClearingMarksEverySlotEmpty) {
    auto d = std::make_shared<fwtest::TestDevicesCollector>();
    auto item = d->newItemWithKey("en0");
    item->storageForType(3)[7] = statsample{9, 9, 0, 4, item->storageForType(3)[7].values};
    item->storageForType(3)[7].values[1] = 3;
    d->storageForType(3)[2].sampleID = 4;
    d->storageForType(3)[2].time = 44;
    d->clearStorageForType(3);  // also clears the items' level
    statsample s = item->sampleAtIndex(7, 3);
    EXPECT_EQ(s.empty, 1);
    EXPECT_EQ(s.sampleID, 0);
    EXPECT_EQ(s.time, 0);
    EXPECT_EQ(s.index, 0);
    EXPECT_EQ(s.values[1], 0);
    EXPECT_EQ(d->sampleAtIndex(2, 3).sampleID, 0);
    EXPECT_EQ(d->sampleAtIndex(2, 3).time, 44) << "a collector slot keeps its time";
}

TEST_F(SampleLevelsTest, InitialStateOfCollectorsAndItems) {
    auto c = std::make_shared<TestValuesCollector>(1);
    auto d = std::make_shared<fwtest::TestDevicesCollector>();
    auto item = d->newItemWithKey("x");
    for (int64_t l = 0; l < 9; ++l) {
        EXPECT_EQ(c->idForInterval(l), 1);
        EXPECT_EQ(item->idForInterval(l), 0);
        EXPECT_EQ(c->sampleAtIndex(601, l).empty, 1);
    }
    EXPECT_EQ(item->emptyValue().empty, 1);
    EXPECT_EQ(c->emptyValue().empty, 0);
    statsample missing = c->sampleWithIdentifier(42, 0);
    EXPECT_EQ(missing.empty, 1);
    EXPECT_EQ(missing.sampleID, 42);
    Value e = c->emptySampleWithIdentifier(3, 99);
    EXPECT_EQ(e["empty"].intValue(), 1);
    EXPECT_EQ(e["v0"].doubleValue(), 0);
    EXPECT_TRUE(e.has("v0"));
}

}  // namespace
