#pragma once
// The Bluetooth side of the peripheral batteries: the connected devices with their vendor and
// product identifiers and per-part battery levels, and the HID device controller with each HID
// device's kind, charging and battery level. The process-wide source is this system's backend
// (SysfsBluetoothDevices); tests install a fake.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telvo::bluetooth {

// One connected device.
struct ConnectedDevice {
    std::string addressString;  // empty when the device has none
    uint16_t vendorID = 0;
    uint16_t productID = 0;
    std::optional<std::string> name;
    // Percent; none where the device does not answer that level.
    std::optional<uint8_t> batteryPercentSingle, batteryPercentLeft, batteryPercentRight, batteryPercentCase;
};

// One device of the HID device controller.
struct HIDDevice {
    std::string address;  // empty when the device has none
    std::optional<std::string> name, product, deviceNameFromHardware;
    bool isKeyboardDevice = false, isMouseDevice = false, isTrackpadDevice = false;
    std::optional<bool> isCharging;  // none where the device cannot tell
    std::optional<double> batteryPercent;  // a fraction, 0 to 1; none when the device reports none
};

class BluetoothDevices {
public:
    virtual ~BluetoothDevices() = default;
    virtual std::vector<ConnectedDevice> connectedDevices() = 0;
    // The controller's presence tests.
    virtual bool appleBluetoothHIDDevicePresent() = 0;
    virtual bool appleBluetoothMousePresent() = 0;
    virtual bool appleBluetoothKeyboardPresent() = 0;
    // The devices of a controller made for this reading.
    virtual std::vector<HIDDevice> hidDevices() = 0;

    // The process-wide source (this system's backend unless a test set another).
    static std::shared_ptr<BluetoothDevices> shared();
    static void setSharedForTesting(std::shared_ptr<BluetoothDevices> devices);
    static void resetForTesting();
};

}  // namespace telvo::bluetooth
