// The sensors collector on a fake SMC with a fixture model: discovery, the wire form, sampling
// on even ticks, and the sensor items' rules.
#include <gtest/gtest.h>

#include <cmath>

#include "SensorsFixture.h"
#include "foundation/ServerLog.h"

using namespace telvo;

namespace {

class SensorsCollector : public sensorstest::SensorsFixture {};

TEST_F(SensorsCollector, DiscoveryFollowsTheTableAndTheSMC) {
    auto c = start();
    std::vector<std::string> keys;
    for (const auto& i : c->items()) keys.push_back(i->key());
    // Sorted by type, then name ignoring case.
    EXPECT_EQ(keys, (std::vector<std::string>{"TC0D", "TC0P", "TG0D", "Th1H", "F0Ac", "VC1C", "IC0R", "PD0R"}));

    auto proximity = sensor(c, "TC0P");
    EXPECT_EQ(proximity->name(), "CPU Proximity") << "the first of two entries wins";
    EXPECT_FALSE(proximity->hasFixedLimits());
    EXPECT_TRUE(proximity->defaultSensor());
    EXPECT_EQ(proximity->index(), 1);
    EXPECT_FALSE(sensor(c, "TC0D")->defaultSensor());

    auto gpu = sensor(c, "TG0D");
    ASSERT_TRUE(gpu) << "a graphics temperature is made even when the SMC lacks it";
    EXPECT_EQ(gpu->value(), -1.0f);
    EXPECT_FALSE(c->sensorWithKey("TB0T")) << "a key reading 254 is not a sensor";
    EXPECT_FALSE(c->sensorWithKey("F1Ac")) << "a fan whose identifier is blank is not made";

    auto power = sensor(c, "PD0R");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->type(), 5);
    EXPECT_FLOAT_EQ(power->value(), 24.0f);
    EXPECT_EQ(sensor(c, "VC1C")->type(), 3);
    EXPECT_EQ(sensor(c, "IC0R")->type(), 4);

    auto fan = sensor(c, "F0Ac");
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->type(), 2);
    EXPECT_EQ(fan->name(), "Left Side") << "the identifier's row comes after the speed key's";
    EXPECT_EQ(fan->low(), 1300.0f);
    EXPECT_EQ(fan->high(), 6500.0f) << "the SMC's maximum raises the table's";
    EXPECT_EQ(fan->lowestRecordedValue(), 1300.0f);
    EXPECT_EQ(fan->highestRecordedValue(), 6200.0f);
    EXPECT_FLOAT_EQ(fan->percentage(), 700.0f / 5200.0f);
    EXPECT_TRUE(c->fanControlSupported());

    // Clients name sensors by the alternate key: the character codes, last first.
    EXPECT_EQ(proximity->alternateKey(), "80486784");
    EXPECT_EQ(c->sensorWithKey("80486784"), proximity);
}

TEST_F(SensorsCollector, APowerEntryNeedsBothFactors) {
    smc_->removeKey("ID0R");
    auto c = start();
    EXPECT_FALSE(c->sensorWithKey("PD0R"));
}

TEST_F(SensorsCollector, APowerFactorGoneLaterReadsAbsentNotTheOtherFactor) {
    auto c = start();
    smc_->setKey("ID0R", "ui8 ", {0});
    smc_->setKey("VD0R", "fp4c", {0xC0, 0x00});
    auto power = sensor(c, "PD0R");
    power->updateValue();
    EXPECT_EQ(power->value(), 0.0f);
    SensorSMCController::resetForTesting();  // a new connection forgets the key types
    SensorSMCController::sharedSMC().open();
    smc_->removeKey("ID0R");
    power->updateValue();
    EXPECT_EQ(power->value(), -1.0f);
}

TEST_F(SensorsCollector, FanIdentifiersAreLatin1AndTheCountIsClamped) {
    setFanIdentifier(0, "Caf\xE9");
    setFanIdentifier(1, "Right");
    smc_->setFloat("FNum", 1e9f);  // clamped to 16: the missing identifiers make no fans
    auto c = start();
    auto fan = sensor(c, "F0Ac");
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->name(), "Fan") << "named by the table's row for the speed key";
    EXPECT_TRUE(c->sensorWithKey("F1Ac"));
    EXPECT_EQ(c->items().size(), 9u);
}

TEST_F(SensorsCollector, AFanWithoutATableRowIsNamedByItsIdentifier) {
    setFanIdentifier(1, "Caf\xE9");
    auto c = start();
    auto fan = sensor(c, "F1Ac");
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->name(), "Caf\xC3\xA9");
    EXPECT_EQ(fan->lowestRecordedValue(), -1.0f);
    EXPECT_EQ(fan->highestRecordedValue(), 0.0f);
    EXPECT_FALSE(fan->hasFixedLimits());
}

TEST_F(SensorsCollector, SamplesOnEvenTicksOnly) {
    auto c = start();
    auto proximity = sensor(c, "TC0P");
    auto count = [&] {
        int n = 0;
        for (int64_t s = 0; s < kSamplesPerLevel; ++s)
            if (proximity->sampleAtIndex(s, 0).sampleID > 0) ++n;
        return n;
    };
    // Discovery's first samples were cleared by loading the stored history, as for every collector.
    EXPECT_EQ(count(), 0);
    smc_->setSP78("TC0P", 45);
    dispatch::MainLoop::runFor(10.0);
    EXPECT_EQ(c->updateSequence(), 10);
    EXPECT_EQ(count(), 5) << "sequences 0, 2, 4, 6, 8";
    EXPECT_EQ(proximity->value(), 45.0f);
    EXPECT_EQ(proximity->highestRecordedValue(), 45.0f);
    EXPECT_EQ(c->storageForType(0)[0].sampleID, proximity->sampleAtIndex(0, 0).sampleID);
}

TEST_F(SensorsCollector, GoldenReply) {
    platform::Clock::useVirtual(1700000000.0);
    auto c = start();
    dispatch::MainLoop::runFor(4.0);
    Value request(ValueDictionary{{"samples", Value("0")}, {"protocol", NSInt(3)}});
    const std::string text = fwtest::nodesText(c->xmlNodesFromAttributes(request));
    std::string golden;
    EXPECT_TRUE(fwtest::matchesGolden("sensors.xml", text, golden)) << "got:\n" << text << "golden:\n" << golden;
    EXPECT_NE(text.find("n=\"Left Heat Pipe &amp; Fin Stack Proximity\""), std::string::npos);
    EXPECT_EQ(text.find("&amp;amp;"), std::string::npos);
}

TEST_F(SensorsCollector, NoSMCMeansNoSensorsAndOneLogLine) {
    smc_->setOpenStatus(smc::kSMCReturnNotFound);
    std::string path = root_ + "/log.txt";
    FILE* log = fopen(path.c_str(), "w");
    ASSERT_TRUE(log);
    setDaemonLogStream(log);
    auto c = start();
    setDaemonLogStream(nullptr);
    fclose(log);
    std::ifstream in(path);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("no SMC found: sensors and fans are not available"), std::string::npos) << all;
    // The table's graphics temperature stays: it is always made, and reads -1.
    ASSERT_EQ(c->items().size(), 1u);
    EXPECT_EQ(c->items()[0]->key(), "TG0D");
}

// ---- Items

TEST(SensorItem, RecordedExtremesAndPercentage) {
    SensorStatCollectorItemMac item;
    EXPECT_EQ(item.lowestRecordedValue(), -1.0f);
    const struct {
        float value, highest, lowest;
        bool changed;
    } steps[] = {{40, 40, 40, true}, {35, 40, 35, true}, {0, 40, 35, false}, {50, 50, 35, true}, {-3, 50, 35, false}};
    for (const auto& s : steps) {
        item.setValue(s.value);
        item.updateLimits();
        EXPECT_EQ(item.highestRecordedValue(), s.highest) << s.value;
        EXPECT_EQ(item.lowestRecordedValue(), s.lowest) << s.value;
        EXPECT_EQ(item.recordedValueChanged(), s.changed) << s.value;
    }
    SensorStatCollectorItemMac fan;
    fan.setLow(1200);
    fan.setHigh(6000);
    fan.setValue(3600);
    fan.updatePercentage();
    EXPECT_FLOAT_EQ(fan.percentage(), 0.5f);
    SensorStatCollectorItemMac unlimited;
    unlimited.setValue(12);
    unlimited.updatePercentage();
    EXPECT_EQ(unlimited.percentage(), 1.0f) << "no limits: 1 while above 0";
    unlimited.setValue(-2);
    unlimited.updatePercentage();
    EXPECT_EQ(unlimited.percentage(), 0.0f);
    SensorStatCollectorItemMac noMinimum;
    noMinimum.setLow(-1);
    noMinimum.setHighestRecordedValue(80);
    noMinimum.setValue(20);
    noMinimum.updatePercentage();
    EXPECT_FLOAT_EQ(noMinimum.percentage(), 0.25f);
}

TEST(SensorItem, SortsByTypeThenNameIgnoringCase) {
    SensorStatCollectorItem a, b, fan;
    a.setName("A");
    b.setName("b");
    fan.setName("0 fan");
    fan.setType(2);
    EXPECT_LT(a.sort(b), 0);
    EXPECT_GT(b.sort(a), 0);
    EXPECT_LT(b.sort(fan), 0);
    EXPECT_EQ(SensorStatCollectorItemMac::alternateKeyFor("TC0P"), "80486784");
    EXPECT_EQ(a.xmlStorageItem()["uuid"].string(), "") << "no alternate key: the key";
    a.setKey("XY0Z");
    EXPECT_EQ(a.xmlStorageItem()["uuid"].string(), "XY0Z");
    EXPECT_EQ(a.xmlStorageItem()["low"].string(), "-1.00");
    EXPECT_FALSE(a.xmlStorageItem().has("d"));
}

TEST(SensorItem, AMultiplyEntryOfAnotherShapeReadsZero) {
    Value three(ValueDictionary{{"type", Value("watts")},
                                {"multiply", Value(ValueArray{Value("VD0R"), Value("ID0R"), Value("VC0C")})}});
    EXPECT_EQ(SensorStatCollectorItemMac::readingFor("PD0R", three), 0.0f);
}

}  // namespace
