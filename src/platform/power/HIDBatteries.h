#pragma once
// The batteries of Bluetooth HID devices, as the kernel lists them among its power supplies
// (scope Device) under /sys/class/power_supply (under host::ProcRoot). Only supplies whose
// parent is a HID device on the Bluetooth bus (0005) count: HID batteries of USB and I2C
// devices, such as a pen's, are left out. Drivers name their supplies differently, so each is
// found by its device's address (the input device's "uniq").
#include <optional>
#include <string>
#include <vector>

#include "platform/power/SysfsAttribute.h"

namespace telvo::power {

struct HIDBattery {
    std::string supply;                  // the supply's folder name
    std::string address;                 // the device's Bluetooth address ("uniq")
    std::optional<std::string> name;     // model_name
    std::optional<std::string> product;  // the HID device's name
    std::optional<std::string> hardwareName;  // the input device's name
    std::optional<int64_t> capacity;     // percent
    std::optional<bool> charging;        // none while the status is Unknown
    bool keyboard = false, mouse = false, trackpad = false;  // from the input capabilities
};

class HIDBatteries {
public:
    // One reading, in the order of the supplies' folder names; devices without an address are
    // left out.
    std::vector<HIDBattery> read();

private:
    SysfsAttributeReader attributes_;
};

}  // namespace telvo::power
