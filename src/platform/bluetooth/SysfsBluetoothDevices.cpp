// Bluetooth HID devices from the kernel's power supplies.
#include "platform/bluetooth/SysfsBluetoothDevices.h"

namespace telvo::bluetooth {

bool SysfsBluetoothDevices::appleBluetoothHIDDevicePresent() {
    read_ = batteries_.read();
    return !read_->empty();
}

std::vector<HIDDevice> SysfsBluetoothDevices::hidDevices() {
    std::vector<power::HIDBattery> batteries = read_ ? std::move(*read_) : batteries_.read();
    read_.reset();
    std::vector<HIDDevice> out;
    for (const power::HIDBattery& b : batteries) {
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
