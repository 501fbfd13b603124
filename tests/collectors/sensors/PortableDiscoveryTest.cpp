// Sensor discovery with the real portable model tables on a fake SMC: power computed from two
// keys, a key listed twice, fans named and limited by their rows, limits with low above high, and
// a default key that no row carries.
#include <gtest/gtest.h>

#include <fstream>

#include "SensorsFixture.h"
#include "platforms/PlatformModelList.h"

using namespace telvo;

namespace {

class PortableDiscovery : public sensorstest::SensorsFixture {
protected:
    // The machine becomes `identifier`, with the real tables and an SMC holding no key yet.
    void useModel(const std::string& identifier) {
        std::ofstream(root_ + "/sys/class/dmi/id/product_name") << identifier << "\n";
        PlatformController::resetForTesting();
        PlatformController::registerModels(platforms::platformModelList());
        smc_ = std::make_shared<smc::FakeSMC>();
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(smc_);
    }
    void addFan(int index, const std::string& identifier, double minimum, double maximum) {
        smc_->setUI8("FNum", static_cast<uint8_t>(index + 1));
        setFanIdentifier(index, identifier);
        const std::string f = "F" + std::to_string(index);
        smc_->setFPE2(f + "Ac", (minimum + maximum) / 2);
        smc_->setFPE2(f + "Mn", minimum);
        smc_->setFPE2(f + "Mx", maximum);
    }
    // A second discovery on the same machine.
    void restart() {
        SensorsStatCollectorMac::resetForTesting();
        SensorSMCController::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        HistoryDatabaseController::resetForTesting();
    }
    static int itemsWithKey(const std::shared_ptr<SensorsStatCollectorMac>& c, const std::string& key) {
        int n = 0;
        for (const auto& i : c->items()) n += i->key() == key;
        return n;
    }
};

TEST_F(PortableDiscovery, PowerIsTheProductOfItsTwoKeys) {
    useModel("MacBookPro8,2");
    smc_->setKey("VD0C", "fp4c", {0xC0, 0x00});  // 12 V
    smc_->setSP78("ID0R", -2.5);                  // a discharge reads negative
    auto c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->className(), "MacBookPro8_2");
    auto power = sensor(c, "PD0R");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->name(), "DC In");
    EXPECT_EQ(power->type(), 5);
    EXPECT_FLOAT_EQ(power->value(), 30.0f);
    EXPECT_FALSE(power->hasFixedLimits());
    smc_->setSP78("ID0R", 1.5);
    power->updateValue();
    EXPECT_FLOAT_EQ(power->value(), 18.0f);

    restart();
    smc_->removeKey("ID0R");
    c = start();
    EXPECT_FALSE(c->sensorWithKey("PD0R")) << "no current, no power sensor";
    EXPECT_TRUE(c->sensorWithKey("VD0C"));
}

TEST_F(PortableDiscovery, APlainPowerRowReadsItsOwnKey) {
    useModel("MacBook9,1");
    smc_->setFloat("PD0R", 14.5f);
    smc_->setKey("VD0R", "fp4c", {0xC0, 0x00});
    smc_->setKey("ID0R", "fp4c", {0x20, 0x00});
    auto c = start();
    auto power = sensor(c, "PD0R");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->type(), 5);
    EXPECT_FLOAT_EQ(power->value(), 14.5f) << "not VD0R x ID0R";
}

TEST_F(PortableDiscovery, TheFirstRowOfAKeyListedTwiceWins) {
    useModel("MacBookAir5,1");
    smc_->setFloat("PDTR", 22.12f);
    auto c = start();
    EXPECT_EQ(itemsWithKey(c, "PDTR"), 1);
    auto total = sensor(c, "PDTR");
    ASSERT_TRUE(total);
    EXPECT_EQ(total->name(), "DC-in Total");
    EXPECT_TRUE(total->hasFixedLimits());
    EXPECT_EQ(total->low(), 0.0f);
    EXPECT_FLOAT_EQ(total->high(), 55.3f);
    EXPECT_FLOAT_EQ(total->percentage(), 22.12f / 55.3f);

    restart();
    useModel("MacBookPro13,3");
    smc_->setFloat("IAPC", 0.4f);
    smc_->setFloat("VCTC", 0.9f);
    c = start();
    EXPECT_EQ(itemsWithKey(c, "IAPC"), 1);
    EXPECT_EQ(sensor(c, "IAPC")->name(), "Wireless");
    EXPECT_EQ(itemsWithKey(c, "VCTC"), 1);
    EXPECT_EQ(sensor(c, "VCTC")->name(), "Intel GPU");
}

TEST_F(PortableDiscovery, AFanRowNamesAndLimitsItsFan) {
    useModel("MacBookPro11,3");
    addFan(0, "Leftside", 2000, 6500);
    auto c = start();
    auto fan = sensor(c, "F0Ac");
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->name(), "Leftside");
    EXPECT_TRUE(fan->hasFixedLimits());
    EXPECT_EQ(fan->low(), 2160.0f);
    EXPECT_EQ(fan->high(), 6500.0f) << "the SMC's maximum above the row's raises it";
    EXPECT_EQ(fan->lowestRecordedValue(), 2160.0f);

    restart();
    useModel("MacBookPro11,3");
    addFan(0, "Leftside", 2000, 6000);
    c = start();
    EXPECT_EQ(sensor(c, "F0Ac")->high(), 6156.0f) << "a lower SMC maximum leaves the row's";
}

TEST_F(PortableDiscovery, AFanIdentifierRowAppliesOnlyToThatFan) {
    useModel("MacBookPro2,1");
    smc_->setSP78("TC0D", 48);
    addFan(0, "Rightside", 1500, 5800);
    addFan(1, "Leftside", 1500, 5800);
    auto c = start();
    auto right = sensor(c, "F0Ac");
    auto left = sensor(c, "F1Ac");
    ASSERT_TRUE(right && left);
    EXPECT_EQ(right->name(), "Rightside") << "the row's name, not the fan name \"Right Fan\"";
    EXPECT_EQ(left->name(), "Leftside");
    EXPECT_EQ(right->low(), 2000.0f);
    EXPECT_EQ(right->high(), 6000.0f);
    EXPECT_FALSE(c->sensorWithKey("Rightside"));
    EXPECT_FALSE(c->sensorWithKey("Leftside"));
    int fans = 0;
    for (const auto& i : c->items()) {
        EXPECT_EQ(i->key().size(), 4u) << i->key();
        fans += std::dynamic_pointer_cast<SensorStatCollectorItem>(i)->type() == 2;
    }
    EXPECT_EQ(fans, 2);
    EXPECT_TRUE(sensor(c, "TC0D")->defaultSensor());
}

TEST_F(PortableDiscovery, LimitsWithLowAboveHighKeepThePercentageInRange) {
    useModel("MacBookPro9,1");
    smc_->setFloat("VC2C", 1.0f);
    auto c = start();
    auto agent = sensor(c, "VC2C");
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->name(), "CPU System Agent");
    EXPECT_TRUE(agent->hasFixedLimits());
    EXPECT_EQ(agent->low(), 8.0f);
    EXPECT_EQ(agent->high(), 2.0f);
    for (float reading : {1.0f, 5.0f, 9.0f, 0.0f}) {
        smc_->setFloat("VC2C", reading);
        agent->updateValue();
        EXPECT_GE(agent->percentage(), 0.0f) << reading;
        EXPECT_LE(agent->percentage(), 1.0f) << reading;
    }
    smc_->setFloat("VC2C", 5.0f);
    agent->updateValue();
    EXPECT_FLOAT_EQ(agent->percentage(), 0.5f);
}

TEST_F(PortableDiscovery, ADefaultKeyWithoutARowFlagsNothing) {
    useModel("MacBookAir7,1");
    smc_->setSP78("TC0P", 44);
    smc_->setSP78("TCXC", 51);  // the default key: read by the SMC, but no row makes it a sensor
    auto c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->defaultSensorKeys(), std::vector<std::string>{"TCXC"});
    EXPECT_TRUE(c->sensorWithKey("TC0P"));
    EXPECT_FALSE(c->sensorWithKey("TCXC"));
    for (const auto& i : c->items())
        EXPECT_FALSE(std::dynamic_pointer_cast<SensorStatCollectorItem>(i)->defaultSensor()) << i->key();
}

}  // namespace
