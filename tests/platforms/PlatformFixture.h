#pragma once
// A fixture machine for the platform registry: a temporary sysfs folder whose DMI product name
// a test writes, a registry tree of its own (platform expert with an optional serial, an
// optional FakeSMC service), a fake SMC, and the fixture model tables registered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry/RegistryBuilder.h"
#include "platform/registry/SysfsRegistry.h"
#include "platform/smc/FakeSMC.h"
#include "platforms/FixtureModels.h"
#include "platforms/PlatformController.h"
#include "sensors/SensorSMCController.h"

namespace telvo::platformtest {

class PlatformFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/telvo-platforms-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        sys_ = tmpl;
        registry::setSysfsRootForTesting(sys_);
        PlatformController::resetForTesting();
        PlatformController::registerModels(fixtures::kFixtureModels);
        smc_ = std::make_shared<smc::FakeSMC>();
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(smc_);
        SensorSMCController::sharedSMC().open();
        installRegistry(std::nullopt, false);
    }
    void TearDown() override {
        PlatformController::resetForTesting();
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(nullptr);
        registry::Registry::resetForTesting();
        registry::setSysfsRootForTesting("");
        std::filesystem::remove_all(sys_);
    }

    // Writes the DMI product name exactly as given (the kernel ends it with a line feed).
    void setProductName(const std::string& bytes) {
        std::filesystem::create_directories(sys_ + "/class/dmi/id");
        std::ofstream(sys_ + "/class/dmi/id/product_name", std::ios::binary) << bytes;
    }
    void installRegistry(const std::optional<std::string>& serial, bool fakeSMC) {
        registry::RegistryBuilder b;
        ValueDictionary props;
        if (serial) props["IOPlatformSerialNumber"] = Value(*serial);
        props["board-id"] = Value::data("Mac-FIXTURE");
        b.add(nullptr, "IOPlatformExpertDevice", "Fixture", props);
        if (fakeSMC) b.add(nullptr, "FakeSMC", "FakeSMC");
        b.install();
    }

    std::string sys_;
    std::shared_ptr<smc::FakeSMC> smc_;
};

}  // namespace telvo::platformtest
