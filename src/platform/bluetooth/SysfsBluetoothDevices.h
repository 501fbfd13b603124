#pragma once
// The Linux backend of the Bluetooth devices: no list of connected devices with per-part
// levels exists, so that list is empty; the HID devices are the Bluetooth HID devices that
// have a battery among the kernel's power supplies (power::HIDBatteries), and the presence
// tests answer whether there is any. The presence test's reading serves the next hidDevices()
// (a reading asks both, one after the other), so the supplies are read once per reading.
#include <optional>
#include <vector>

#include "platform/bluetooth/BluetoothDevices.h"
#include "platform/power/HIDBatteries.h"

namespace telvo::bluetooth {

class SysfsBluetoothDevices : public BluetoothDevices {
public:
    std::vector<ConnectedDevice> connectedDevices() override { return {}; }
    bool appleBluetoothHIDDevicePresent() override;
    bool appleBluetoothMousePresent() override { return false; }
    bool appleBluetoothKeyboardPresent() override { return false; }
    std::vector<HIDDevice> hidDevices() override;

private:
    power::HIDBatteries batteries_;
    std::optional<std::vector<power::HIDBattery>> read_;
};

}  // namespace telvo::bluetooth
