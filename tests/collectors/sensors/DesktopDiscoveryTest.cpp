// Sensor discovery with the real desktop model tables on a fake SMC: computed power, a key listed
// twice, fans named and limited by their identifier rows, two default keys, and the Xserve fan
// identifiers that are also tried as SMC keys.
#include <gtest/gtest.h>

#include <fstream>

#include "SensorsFixture.h"
#include "platforms/PlatformModelList.h"

using namespace telvo;

namespace {

class DesktopDiscovery : public sensorstest::SensorsFixture {
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

TEST_F(DesktopDiscovery, MacMiniPowerIsTheMagnitudeOfVoltageTimesCurrent) {
    useModel("Macmini7,1");
    smc_->setKey("VD0R", "fp4c", {0xC0, 0x00});  // 12 V
    smc_->setSP78("ID0R", -2.5);                  // a current read negative
    smc_->setSP78("TCXC", 48);
    addFan(0, "EXHAUST", 1700, 4700);
    auto c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->className(), "Macmini7_1");
    auto power = sensor(c, "PD0R");
    ASSERT_TRUE(power);
    EXPECT_EQ(power->name(), "DC In");
    EXPECT_EQ(power->type(), 5);
    EXPECT_FLOAT_EQ(power->value(), 30.0f);
    EXPECT_FALSE(power->hasFixedLimits());
    EXPECT_EQ(sensor(c, "VD0R")->name(), "DC In");
    EXPECT_EQ(sensor(c, "VD0R")->type(), 3);
    EXPECT_EQ(sensor(c, "ID0R")->type(), 4);
    EXPECT_TRUE(sensor(c, "TCXC")->defaultSensor());

    auto fan = sensor(c, "F0Ac");
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->name(), "Exhaust") << "the speed key's row names the fan";
    EXPECT_EQ(fan->low(), 1800.0f);
    EXPECT_EQ(fan->high(), 4800.0f);

    restart();
    smc_->removeKey("VD0R");
    c = start();
    EXPECT_FALSE(c->sensorWithKey("PD0R")) << "no voltage, no power sensor";
    EXPECT_TRUE(c->sensorWithKey("ID0R"));
}

TEST_F(DesktopDiscovery, TheFirstRowOfAKeyListedTwiceWins) {
    useModel("Macmini5,2");
    smc_->setKey("IN0R", "fp4c", {0x30, 0x00});  // 3 A
    auto c = start();
    ASSERT_EQ(itemsWithKey(c, "IN0R"), 1);
    auto gfx = sensor(c, "IN0R");
    EXPECT_EQ(gfx->name(), "GFX VCore Average");
    EXPECT_TRUE(gfx->hasFixedLimits());
    EXPECT_EQ(gfx->low(), 0.0f);
    EXPECT_EQ(gfx->high(), 33.0f) << "not the later row's 20";
    EXPECT_TRUE(PlatformController::currentPlatform()->hideIntergratedGraphics());

    useModel("iMac18,3");
    smc_->setFloat("PGTR", 21.5f);
    smc_->setFloat("PSTR", 96.0f);
    smc_->setSP78("TC0p", 45);
    restart();
    c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->className(), "iMac18_3");
    ASSERT_EQ(itemsWithKey(c, "PGTR"), 1);
    ASSERT_EQ(itemsWithKey(c, "PSTR"), 1);
    EXPECT_EQ(sensor(c, "PGTR")->name(), "GPU");
    EXPECT_EQ(sensor(c, "PSTR")->name(), "Total Power");
    EXPECT_EQ(sensor(c, "PSTR")->type(), 5);
    EXPECT_FLOAT_EQ(sensor(c, "PSTR")->value(), 96.0f);
    EXPECT_TRUE(sensor(c, "TC0p")->defaultSensor());
}

TEST_F(DesktopDiscovery, FansTakeTheirIdentifierRows) {
    useModel("iMac7,1");
    addFan(0, "CPU", 1000, 3400);
    addFan(1, "HDD", 1300, 5000);
    addFan(2, "ODD", 800, 4000);
    smc_->setSP78("TC0H", 40);
    auto c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->className(), "iMac7_1");
    auto cpu = sensor(c, "F0Ac");
    ASSERT_TRUE(cpu);
    EXPECT_EQ(cpu->name(), "CPU_MEM") << "the row's name, not the generic \"CPU Fan\"";
    EXPECT_TRUE(cpu->hasFixedLimits());
    EXPECT_EQ(cpu->low(), 1200.0f);
    EXPECT_EQ(cpu->high(), 3500.0f);
    EXPECT_EQ(sensor(c, "F1Ac")->name(), "HDD");
    EXPECT_EQ(sensor(c, "F1Ac")->high(), 5500.0f);
    EXPECT_EQ(sensor(c, "F2Ac")->low(), 700.0f);
    EXPECT_FALSE(c->sensorWithKey("CPU")) << "a three-character row is no SMC key";
    EXPECT_TRUE(sensor(c, "TC0H")->defaultSensor());
    EXPECT_TRUE(PlatformController::currentPlatform()->hideIntergratedGraphics());
}

TEST_F(DesktopDiscovery, MacProFlagsBothDefaultKeys) {
    useModel("MacPro4,1");
    smc_->setSP78("TCAD", 52);
    smc_->setSP78("TCBD", 54);
    smc_->setSP78("TCAH", 40);
    addFan(0, "PCI", 700, 4000);
    addFan(1, "BOOSTB", 800, 5000);
    auto c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->className(), "MacPro4_1");
    EXPECT_TRUE(PlatformController::currentPlatform()->ignoreGraphicsControl());
    EXPECT_TRUE(sensor(c, "TCAD")->defaultSensor());
    EXPECT_TRUE(sensor(c, "TCBD")->defaultSensor());
    EXPECT_FALSE(sensor(c, "TCAH")->defaultSensor());

    auto pci = sensor(c, "F0Ac");
    ASSERT_TRUE(pci);
    EXPECT_EQ(pci->name(), "Expansion Slots");
    EXPECT_EQ(pci->low(), 800.0f);
    EXPECT_EQ(pci->high(), 4500.0f);
    EXPECT_EQ(sensor(c, "F1Ac")->name(), "Booster 2");
    EXPECT_EQ(sensor(c, "F1Ac")->high(), 5199.0f);
}

TEST_F(DesktopDiscovery, XserveOutletIdentifiersAreFanRowsAndSMCKeys) {
    useModel("Xserve3,1");
    smc_->setSP78("TCAH", 41);
    smc_->setSP78("TCBH", 43);
    addFan(0, "OUT0", 6000, 15000);
    addFan(1, "PS0IN", 7500, 13000);
    auto c = start();
    ASSERT_EQ(PlatformController::currentPlatform()->className(), "Xserve3_1");
    auto out0 = sensor(c, "F0Ac");
    ASSERT_TRUE(out0);
    EXPECT_EQ(out0->name(), "CPU 1 Outlet");
    EXPECT_EQ(out0->low(), 5768.0f);
    EXPECT_EQ(out0->high(), 17308.0f);
    auto supply = sensor(c, "F1Ac");
    EXPECT_EQ(supply->name(), "Power Supply 1 Inlet");
    EXPECT_EQ(supply->low(), 7284.0f);
    EXPECT_EQ(supply->high(), 13900.0f);
    EXPECT_FALSE(c->sensorWithKey("OUT0")) << "the SMC has no such key";
    EXPECT_TRUE(sensor(c, "TCAH")->defaultSensor());
    EXPECT_TRUE(sensor(c, "TCBH")->defaultSensor());

    // With the key present the row also makes a sensor of the default kind.
    smc_->setSP78("OUT0", 30);
    restart();
    c = start();
    auto key = sensor(c, "OUT0");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->name(), "CPU 1 Outlet");
    EXPECT_EQ(key->type(), 0);
    EXPECT_TRUE(key->hasFixedLimits()) << "its row's fan range is taken as its limits";
    EXPECT_EQ(key->high(), 17308.0f);
    EXPECT_EQ(sensor(c, "F0Ac")->name(), "CPU 1 Outlet");

    // A key reading 254 fails the validity test.
    smc_->setUI8("OUT1", 254);
    restart();
    c = start();
    EXPECT_FALSE(c->sensorWithKey("OUT1"));
}

}  // namespace
