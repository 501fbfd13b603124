// The emulated-SMC platform: its 243-key name table and the sensor table walked from the SMC.
#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "PlatformFixture.h"
#include "platforms/FauxMac.h"

using namespace telvo;

namespace {

class FauxMacTest : public platformtest::PlatformFixture {
protected:
    void setKeyCount(uint32_t n) {
        smc_->setKey("#KEY", "ui32", {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    }
};

TEST_F(FauxMacTest, TheNameTableHas243KeysWithTheGroupsWrittenInHex) {
    const auto names = FauxMac::sensorNames();
    EXPECT_EQ(names.size(), 243u);
    const std::pair<const char*, const char*> expected[] = {
        {"PCAC", "CPU 2 Core"},        {"TMA1", "Memory Slot 0"},       {"TMB4", "Memory Slot 7"},
        {"Te1S", "PCIe SLot 2"},       {"Pe1S", "PCIe Slot 1 +12V"},    {"TCAD", "CPU 1"},
        {"TCBD", "CPU 2"},             {"TZ0C", "Thermal Zone 1"},      {"TZEC", "Thermal Zone F"},
        {"TC0D", "CPU Die 1"},         {"TC7D", "CPU Die 8"},           {"VCAC", "CPU 1"},
        {"TA0p", "Ambient"},           {"MPkC", "CPU Package Multiplier"}, {"Pp1C", "Power Supply 2"},
    };
    for (auto [key, name] : expected) {
        ASSERT_EQ(names.count(key), 1u) << key;
        EXPECT_EQ(names.at(key), name) << key;
    }
    std::map<std::string, std::string> none;
    FauxMac::addSensorGroup(none, "TX%@X", "X %@", 0, 0, 0);
    FauxMac::addSensorGroup(none, "TX%@X", "X %@", -3, 0, 0);
    EXPECT_TRUE(none.empty());
}

TEST_F(FauxMacTest, TheSensorTableHoldsTheNamedKeysInIndexOrder) {
    setKeyCount(4);  // "#KEY" itself is index 0, unnamed
    smc_->setSP78("TC0D", 50);
    smc_->setSP78("XY0Z", 10);  // no name
    smc_->setSP78("TCAD", 48);
    FauxMac faux;
    ValueArray table = faux.supportedSensors();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0], Value(ValueDictionary{{"key", Value("TC0D")}, {"name", Value("CPU Die 1")},
                                              {"low", Value(0)}, {"high", Value(0)}}));
    EXPECT_EQ(table[1]["key"].string(), "TCAD");
    EXPECT_EQ(table[1]["name"].string(), "CPU 1");
    EXPECT_EQ(faux.defaultSensorKeys(), std::vector<std::string>{"TC0D"});
    EXPECT_EQ(faux.icon(), "imac-unibody.png");
}

TEST_F(FauxMacTest, NoKeysOrAnImpossibleCountGiveAnEmptyTable) {
    FauxMac faux;
    EXPECT_TRUE(faux.supportedSensors().empty()) << "no #KEY";
    setKeyCount(0);
    EXPECT_TRUE(faux.supportedSensors().empty());
    smc_->setFloat("#KEY", std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(faux.supportedSensors().empty());
    // The key information is cached for the life of the connection: a new one for the new type.
    SensorSMCController::resetForTesting();
    SensorSMCController::sharedSMC().open();
    // A count far above the keys the SMC holds is clamped; the walk ends quietly past the last.
    setKeyCount(0xFFFFFFFFu);
    smc_->setSP78("TC0D", 50);
    smc_->resetCounts();
    EXPECT_EQ(faux.supportedSensors().size(), 1u);
    EXPECT_EQ(smc_->commandCount(smc::kSMCGetKeyFromIndex), FauxMac::kMaximumKeyCount);
}

}  // namespace
