// Bluetooth HID devices from the kernel's power supplies.
#include "platform/bluetooth/SysfsBluetoothDevices.h"

namespace telvo::bluetooth {

bool SysfsBluetoothDevices::appleBluetoothHIDDevicePresent() { return !batteries_.read().empty(); }

std::vector<HIDDevice> SysfsBluetoothDevices::hidDevices() {
    std::vector<HIDDevice> out;
    for (const power::HIDBattery& b : batteries_.read()) {
        HIDDevice d;
        d.address = b.address;
        d.name = b.name;
        d.product = b.product;
        d.deviceNameFromHardware = b.hardwareName;
        d.isKeyboardDevice = b.keyboard;
        d.isMouseDevice = b.mouse;
        d.isTrackpadDevice = b.trackpad;
        d.isCharging = b.charging;
        if (b.capacity) d.batteryPercent = double(*b.capacity) / 100.0;
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace telvo::bluetooth
