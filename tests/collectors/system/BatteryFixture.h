#pragma once
// Test fixture for the battery collector: the system fixture plus the power supplies of
// data/power (a laptop battery BAT0, mains AC, a UPS, a Bluetooth mouse's HID battery and a
// USB pen's HID battery), an empty device registry, and a fake of the Bluetooth devices
// where a test installs one.
#include <memory>
#include <vector>

#include "SystemFixture.h"
#include "collectors/system/BatteryStatCollectorMac.h"
#include "platform/bluetooth/BluetoothDevices.h"
#include "platform/registry/Registry.h"

namespace telvo::systest {

// Bluetooth devices as a test sets them; counts the readings of the HID controller.
class FakeBluetoothDevices : public bluetooth::BluetoothDevices {
public:
    std::vector<bluetooth::ConnectedDevice> connectedDevices() override { return connected; }
    bool appleBluetoothHIDDevicePresent() override { return present; }
    bool appleBluetoothMousePresent() override { return false; }
    bool appleBluetoothKeyboardPresent() override { return false; }
    std::vector<bluetooth::HIDDevice> hidDevices() override {
        ++hidReadings;
        return hid;
    }
    std::vector<bluetooth::ConnectedDevice> connected;
    std::vector<bluetooth::HIDDevice> hid;
    bool present = true;
    int hidReadings = 0;
};

class BatteryFixture : public SystemFixture {
protected:
    void SetUp() override {
        SystemFixture::SetUp();
        std::filesystem::copy(std::string(TELVO_TEST_DATA_DIR) + "/power", machine_,
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks |
                                  std::filesystem::copy_options::overwrite_existing);
        registry_ = std::make_shared<registry::Registry>();
        registry::Registry::setSharedForTesting(registry_);
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        BatteryStatCollectorMac::resetForTesting();
        bluetooth::BluetoothDevices::resetForTesting();
        registry::Registry::resetForTesting();
        SystemFixture::TearDown();
    }

    std::shared_ptr<FakeBluetoothDevices> useFakeBluetooth() {
        auto fake = std::make_shared<FakeBluetoothDevices>();
        bluetooth::BluetoothDevices::setSharedForTesting(fake);
        return fake;
    }

    static std::shared_ptr<BatteryStatCollectorItemMac> item(BatteryStatCollectorMac& c, const std::string& key) {
        return std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(c.itemWithKey(key));
    }
    static std::vector<std::string> keys(const BatteryStatCollectorMac& c) {
        std::vector<std::string> out;
        for (const auto& i : c.items()) out.push_back(i->key());
        return out;
    }
    // Runs the clock until the collector took `count` more samples (6 ticks apart).
    void samples(BatteryStatCollectorMac& c, int count) {
        const double before = c.sampleIndex(0).sampleID;
        for (int guard = 0; guard < 6 * count + 6 && c.sampleIndex(0).sampleID < before + count; ++guard) tick();
    }
    // Waits until the stored values asked of the local file are back and every change row
    // handed to it is written.
    void settleRows() {
        dispatch::MainLoop::runUntilIdle();
        databaseItemWithPath(fwtest::kLocalDB)->queryDatabase([](const FMDatabasePtr&) {});
    }

    std::shared_ptr<registry::Registry> registry_;
};

}  // namespace telvo::systest
