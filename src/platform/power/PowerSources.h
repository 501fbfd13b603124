#pragma once
// The power-source service of this system, over /sys/class/power_supply (under
// host::ProcRoot): each battery of the machine (type Battery, scope not Device, present) and
// each UPS as one power-source description dictionary, and each such battery's smart-battery
// properties. Mains, USB and Wireless supplies become no source of their own; they decide the
// "Power Source State" of the batteries. Device batteries (peripherals) are read elsewhere.
//
// Description keys: "Name" (model_name), "Power Source ID" (the supply's folder name),
// "Hardware Serial Number" (serial_number, when not blank), "Transport Type" ("Internal" for a
// battery, "USB" for a UPS), "Type" ("InternalBattery" or "UPS"), "Is Present",
// "Current Capacity" (percent, unclamped), "Max Capacity" (100), "Power Source State"
// ("AC Power" or "Battery Power"), "Is Charging", "Is Charged", "Time to Full Charge" and,
// while discharging, "Time to Empty" (minutes, -1 while unknown), "Voltage" (mV) and
// "Current" (mA, negative while discharging).
// Smart-battery keys: "CycleCount", "MaxCapacity", "DesignCapacity" (mWh, or mAh for a
// battery that reports charge), "Voltage", "Amperage", "ManufactureDate" (day in bits 0-4,
// month in bits 5-8, year - 1980 from bit 9). A file that is missing or holds no number
// leaves its key out.
#include <string>

#include "platform/power/SysfsAttribute.h"
#include "platform/values/Value.h"

namespace telvo::power {

struct PowerSourcesSnapshot {
    ValueArray descriptions;    // in the order of the supplies' folder names
    ValueArray smartBatteries;  // one per internal battery, in the same order
};

class PowerSources {
public:
    // One reading of the supplies.
    PowerSourcesSnapshot read();

private:
    SysfsAttributeReader attributes_;
};

}  // namespace telvo::power
