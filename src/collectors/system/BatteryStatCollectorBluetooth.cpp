// The battery collector's reading of Bluetooth peripherals: the connected devices (two-piece
// and other devices of vendor 76), the HID device controller's devices and the "BatteryPercent"
// of the HID services in the device registry.
#include <algorithm>

#include "collectors/system/BatteryStatCollectorMac.h"
#include "platform/bluetooth/BluetoothDevices.h"
#include "platform/registry/Registry.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {

constexpr uint16_t kAppleVendorID = 76;
constexpr uint16_t kTwoPieceProductID = 0x2002;
constexpr int64_t kOverrideProductID = 617;

const char* const kHIDServices[] = {"AppleBluetoothHIDMouse",    "BNBMouseDevice",
                                    "IOAppleBluetoothHIDDriver", "BNBTrackpadDevice",
                                    "AppleBluetoothHIDKeyboard", "AppleDeviceManagementHIDEventService"};

// The name of a service's entries that name themselves neither way; empty for none.
std::string defaultName(const std::string& service, const Value& properties) {
    if (service == "AppleBluetoothHIDMouse" || service == "BNBMouseDevice") return "Apple Wireless Mouse";
    if (service == "BNBTrackpadDevice") return "Apple Wireless Trackpad";
    if (service == "AppleBluetoothHIDKeyboard") return "Apple Wireless Keyboard";
    if (service == "IOAppleBluetoothHIDDriver")
        return properties["ProductID"].intValue() == 0x309 ? "Apple Wireless Mouse" : "Apple Wireless Keyboard";
    return "";
}

}  // namespace

void BatteryStatCollectorMac::fetchBluetoothItemsWithKey(const std::string& service, ValueArray& storage) {
    auto registry = registry::Registry::shared();
    int position = 0;
    for (const registry::EntryRef& entry : registry->matchingServices(registry::Registry::nameMatching(service))) {
        ++position;
        Value properties = entry->properties();
        std::string name;
        if (properties.has("DeviceName")) name = properties["DeviceName"].stringValue();
        else if (properties.has("Product")) name = properties["Product"].stringValue();
        else name = defaultName(service, properties);
        if (!properties.has("BatteryPercent") || name.empty()) continue;
        Value battery{ValueDictionary{}};
        battery.set("key", properties.has("SerialNumber") ? Value(properties["SerialNumber"].stringValue())
                                                          : Value(format("%@-%i", service, position)));
        battery.set("name", Value(name));
        if (properties.has("ProductID")) battery.set("ProductID", properties["ProductID"]);
        battery.set("level", properties["BatteryPercent"]);
        properties.remove("Elements");
        battery.set("iokit", properties);
        storage.push_back(std::move(battery));
    }
}

void BatteryStatCollectorMac::updateBluetooth() {
    // 1. Registry battery entries.
    ValueArray entries;
    for (const char* service : kHIDServices) fetchBluetoothItemsWithKey(service, entries);

    auto peripheral = [this](const std::string& key, bool& made) {
        made = false;
        auto item = batteryItem(key);
        if (!item) {
            item = std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(newItemWithKey(key));
            if (!item) return item;
            item->type = 2;
            item->state = 2;
            made = true;
        }
        return item;
    };

    if (useClassicBluetooth) {
        for (const Value& entry : entries) {
            bool made = false;
            auto item = peripheral(entry["key"].stringValue(), made);
            if (!item) continue;
            if (made) item->name = entry["name"].stringValue();
            item->percentage = float(entry["level"].doubleValue());
            item->setExists(true);
        }
        return;
    }

    auto devices = bluetooth::BluetoothDevices::shared();
    // 2. Connected devices of vendor 76.
    for (const bluetooth::ConnectedDevice& device : devices->connectedDevices()) {
        if (device.addressString.empty() || device.vendorID != kAppleVendorID) continue;
        if (!device.batteryPercentLeft && !device.batteryPercentSingle) continue;
        bool made = false;
        auto item = peripheral(device.addressString, made);
        if (!item) continue;
        if (made) {
            item->name = device.name;
            item->subtype = device.productID == kTwoPieceProductID ? 1 : 2;
        }
        item->setExists(true);
        if (device.batteryPercentLeft) {
            item->percentageLeft = float(*device.batteryPercentLeft);
            if (device.batteryPercentCase) item->percentageCase = float(*device.batteryPercentCase);
            if (device.batteryPercentRight) item->percentageRight = float(*device.batteryPercentRight);
            item->percentage = std::min(item->percentageLeft, item->percentageRight);
        } else {
            item->percentage = float(*device.batteryPercentSingle);
        }
    }

    // 3. The controller's presence tests.
    if (!devices->appleBluetoothHIDDevicePresent() && !devices->appleBluetoothMousePresent() &&
        !devices->appleBluetoothKeyboardPresent())
        return;

    // 4. HID devices; a registry entry of product 617 for the same address gives the level.
    for (const bluetooth::HIDDevice& device : devices->hidDevices()) {
        if (device.address.empty()) continue;
        bool made = false;
        auto item = peripheral(device.address, made);
        if (!item) continue;
        if (made) {
            item->name = device.name;
            item->product = device.product;
            if (!item->name) item->name = device.deviceNameFromHardware;
            if (!item->name)
                item->name = device.isKeyboardDevice ? "Keyboard"
                             : device.isMouseDevice  ? "Mouse"
                             : device.isTrackpadDevice ? "Trackpad"
                                                       : "Unknown";
            item->subtype = device.isKeyboardDevice ? 4 : device.isMouseDevice ? 3 : device.isTrackpadDevice ? 5 : 3;
        }
        if (device.isCharging) item->source = *device.isCharging ? 1 : 0;
        if (device.batteryPercent) item->percentage = float(*device.batteryPercent * 100.0);
        for (const Value& entry : entries) {
            const bool sameDevice = entry["key"].stringValue() == device.address ||
                                    entry["iokit"]["DeviceAddress"].stringValue() == device.address;
            if (sameDevice && entry.has("ProductID") && entry["ProductID"].intValue() == kOverrideProductID)
                item->percentage = float(entry["iokit"]["BatteryPercent"].doubleValue());
        }
        item->setExists(true);
    }
}

}  // namespace telvo
