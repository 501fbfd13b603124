#pragma once
// Test fixture for the sensors collector: the framework's history fixture (temporary root,
// virtual clock, sqlite3 on the real files), a fake SMC with a portable's keys, the fixture
// model tables, and a DMI product name choosing the fixture "MacBookPro13,2".
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/NodeText.h"
#include "collectors/sensors/SensorsStatCollectorMac.h"
#include "platform/registry/RegistryBuilder.h"
#include "platform/registry/SysfsRegistry.h"
#include "platform/smc/FakeSMC.h"
#include "platforms/FixtureModels.h"
#include "platforms/PlatformController.h"
#include "sensors/SensorSMCController.h"

namespace telvo::sensorstest {

class SensorsFixture : public fwtest::HistoryFixture {
protected:
    void SetUp() override {
        fwtest::HistoryFixture::SetUp();
        std::filesystem::create_directories(root_ + "/sys/class/dmi/id");
        std::ofstream(root_ + "/sys/class/dmi/id/product_name") << "MacBookPro13,2\n";
        registry::setSysfsRootForTesting(root_ + "/sys");
        registry::RegistryBuilder b;
        b.add(nullptr, "IOPlatformExpertDevice", "MacBookPro13,2");
        b.install();
        PlatformController::resetForTesting();
        PlatformController::registerModels(fixtures::kFixtureModels);

        smc_ = std::make_shared<smc::FakeSMC>();
        smc_->setSP78("TC0P", 41.5);
        smc_->setSP78("TC0D", 55.25);
        smc_->setUI8("TB0T", 254);  // a key reading 254: no sensor
        smc_->setSP78("Th1H", 38);
        smc_->setKey("VC1C", "fp2e", {0x4C, 0xCD});  // 1.2 V
        smc_->setKey("IC0R", "fp4c", {0x20, 0x00});  // 2 A
        smc_->setKey("VD0R", "fp4c", {0xC0, 0x00});  // 12 V
        smc_->setKey("ID0R", "fp4c", {0x20, 0x00});  // 2 A
        smc_->setUI8("FNum", 2);
        setFanIdentifier(0, std::string("Leftside"));
        setFanIdentifier(1, std::string("    \0\0  ", 8));
        smc_->setFPE2("F0Ac", 2000);
        smc_->setFPE2("F0Mn", 1200);
        smc_->setFPE2("F0Mx", 6500);
        smc_->setFPE2("F1Ac", 1800);
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(smc_);
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        SensorsStatCollectorMac::resetForTesting();
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(nullptr);
        PlatformController::resetForTesting();
        registry::Registry::resetForTesting();
        registry::setSysfsRootForTesting("");
        fwtest::HistoryFixture::TearDown();
    }

    void setFanIdentifier(int fan, const std::string& text) {
        std::vector<uint8_t> bytes(16, 0);
        std::memcpy(bytes.data(), text.data(), std::min<size_t>(text.size(), 16));
        smc_->setKey("F" + std::to_string(fan) + "ID", "{fds", bytes);
    }

    // What the daemon's controller does for the sensors collector: the local file only.
    std::shared_ptr<SensorsStatCollectorMac> start(bool* schemaChanged = nullptr) {
        auto c = SensorsStatCollectorMac::sharedSensorCollector();
        c->setDbpath(fwtest::kLocalDB);
        bool changed = c->prepareDatabase(false);
        if (schemaChanged) *schemaChanged = changed;
        c->loadSensors();
        c->loadPreviousSamples();
        c->fillGaps();
        c->startLogging();
        return c;
    }

    std::shared_ptr<SensorStatCollectorItemMac> sensor(const std::shared_ptr<SensorsStatCollectorMac>& c,
                                                       const std::string& key) {
        return std::dynamic_pointer_cast<SensorStatCollectorItemMac>(c->sensorWithKey(key));
    }

    std::shared_ptr<smc::FakeSMC> smc_;
};

}  // namespace telvo::sensorstest
