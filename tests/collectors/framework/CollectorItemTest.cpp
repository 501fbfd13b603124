// Items: their writers, level records, history items, lookups and release.
#include <gtest/gtest.h>

#include "collectors/framework/TestCollectors.h"
#include "platform/time/Clock.h"

using namespace telvo;
using telvo::fwtest::TestDevicesCollector;

namespace {

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries) {
    return Value(ValueDictionary(entries));
}

TEST(CollectorItemTest, EmptyFlagIsSetOnlyByTheIntegerOne) {
    auto c = std::make_shared<TestDevicesCollector>();
    auto item = c->newItemWithKey("en0");
    struct Case {
        Value empty;
        int32_t stored;
    } cases[] = {{Value(1), 1}, {Value(true), 1}, {Value(2), 0}, {Value(0), 0}, {Value(), 0}};
    double n = 1;
    for (const auto& k : cases) {
        Value s = dict({{"sample", Value(n)}, {"rx", Value(1.0)}});
        if (!k.empty.isNull()) s.set("empty", k.empty);
        item->addSample(s, 0);
        EXPECT_EQ(item->sampleAtIndex(0, 0).empty, k.stored) << k.empty.description();
        n += 1;
    }
}

TEST(CollectorItemTest, WritingSlotZeroMovesTheLevelRecord) {
    auto c = std::make_shared<TestDevicesCollector>();
    auto item = c->newItemWithKey("en0");
    item->addSample(dict({{"sample", Value(7)}, {"time", Value(70.0)}}), 2);
    EXPECT_EQ(item->idForInterval(2), 7);
    EXPECT_EQ(item->sampleIndex(2).time, 70);
    item->addSampleAtIndex(dict({{"sample", Value(3)}, {"time", Value(30.0)}}), 2, 5);
    EXPECT_EQ(item->idForInterval(2), 7) << "another slot leaves the record";
    EXPECT_EQ(item->sampleAtIndex(5, 2).sampleID, 3);
    item->addSampleAtIndex(dict({{"sample", Value(2)}, {"time", Value(20.0)}}), 2, 0);
    EXPECT_EQ(item->idForInterval(2), 2) << "slot 0 moves it, without the acceptance test";
    item->addSample(dict({{"sample", Value(2)}}), 2);
    EXPECT_EQ(item->sampleAtIndex(0, 2).sampleID, 2);
    EXPECT_EQ(item->sampleAtIndex(1, 2).sampleID, 0) << "an equal number is dropped";
}

TEST(CollectorItemTest, HistoryItemNeedsAKey) {
    auto c = std::make_shared<TestDevicesCollector>();
    auto keyed = c->newItemWithKey("en0");
    auto unkeyed = c->newItemWithKey("");
    keyed->setTime(600, 1);
    unkeyed->setTime(600, 1);
    EXPECT_TRUE(unkeyed->historyItemForIndex(1).isNull());
    Value h = keyed->historyItemForIndex(1);
    EXPECT_EQ(h["uuid"].stringValue(), "en0");
    EXPECT_EQ(h["time"].doubleValue(), 594);
    Value all = c->historyItemsForIndex(1);
    ASSERT_EQ(all["items"].count(), 1u) << "the item without key contributes nothing";
    EXPECT_EQ(all["empty"].intValue(), 0);
}

TEST(CollectorItemTest, TemporaryAndNohistoryItemsStayOutOfAveragedSamples) {
    auto c = std::make_shared<TestDevicesCollector>();
    c->newItemWithKey("live");
    c->newItemWithKey("quiet")->setNohistory(true);
    c->itemWithKey("ghost", true);
    Value all = c->historyItemsForIndex(1);
    ASSERT_EQ(all["items"].count(), 1u);
    EXPECT_EQ(all["items"].at(0)["uuid"].stringValue(), "live");
}

TEST(CollectorItemTest, LookupByKey) {
    auto c = std::make_shared<TestDevicesCollector>();
    auto three = c->newItemWithKey("3");
    EXPECT_EQ(c->itemWithKey(Value(3)), three) << "a number finds the item of its decimal text";
    EXPECT_EQ(c->itemWithKey("4"), nullptr);

    auto temp = c->itemWithKey("sda", true);
    ASSERT_NE(temp, nullptr);
    EXPECT_TRUE(temp->temporary());
    EXPECT_EQ(c->itemWithKey("sda"), nullptr) << "temporary items are skipped";
    EXPECT_EQ(c->itemWithKey("sda", true), temp);
    EXPECT_EQ(c->newItemWithKey("sda"), temp) << "the same item, now live";
    EXPECT_FALSE(temp->temporary());
    EXPECT_EQ(c->itemWithKey("sda"), temp);
    EXPECT_EQ(temp->parent(), c.get());
    EXPECT_EQ(temp->config()["sqlInsertItem"], c->config()["sqlInsertItem"]) << "items copy the configuration";

    auto plain = std::make_shared<StatCollector>(1);
    EXPECT_EQ(plain->newItemWithKey("x"), nullptr) << "no item class: no item";
    EXPECT_EQ(plain->itemWithKey("x", true), nullptr);
    EXPECT_TRUE(plain->items().empty());
}

TEST(CollectorItemTest, CleanupReleasesOnce) {
    auto item = std::make_shared<fwtest::TestDeviceItem>();
    EXPECT_EQ(item->sampleValueCount(), 2);
    item->cleanup();
    EXPECT_TRUE(item->cleanedUp());
    EXPECT_EQ(item->sampleValueCount(), 0);
    EXPECT_EQ(item->storageForType(0), nullptr);
    item->cleanup();  // harmless
    EXPECT_EQ(item->sampleAtIndex(0, 0).empty, 1);
    item->addSample(dict({{"sample", Value(1)}}), 0);  // nothing to write into
    EXPECT_EQ(item->lowestSampleForStorageType(0), 0);
}

TEST(CollectorItemTest, LowestSampleOverItems) {
    auto c = std::make_shared<TestDevicesCollector>();
    EXPECT_EQ(c->lowestSampleForStorageType(1), 0) << "no items";
    c->newItemWithKey("a")->addSample(dict({{"sample", Value(9)}}), 1);
    c->newItemWithKey("b")->addSample(dict({{"sample", Value(4)}}), 1);
    EXPECT_EQ(c->lowestSampleForStorageType(1), 4);
}

}  // namespace
