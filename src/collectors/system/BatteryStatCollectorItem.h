#pragma once
// BatteryStatCollectorItem: one power source or peripheral battery of the battery collector,
// keyed by the source's identity (serial number, source id or name; a peripheral's Bluetooth
// address). Its samples hold percentage, state and source; its item element carries the
// current values. The reading is the platform item's (BatteryStatCollectorItemMac).
#include <cstdint>
#include <optional>
#include <string>

#include "collectors/framework/StatCollectorItem.h"

namespace telvo {

class BatteryStatCollectorItem : public StatCollectorItem {
public:
    BatteryStatCollectorItem();
    static int64_t sampleCount();

    // The item element's attributes: "time", "source", "type", "state", "cycles" ("%i"),
    // "percentage", "health" ("%.2f"), "uuid" and, when set, "name" (both made XML-safe).
    Value xmlStorageItem() const override;
    // xmlStorageItem with "samples" (their "s" elements carry only "time" and "id").
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    // "key = %@, name = %@, state = %i, percentage = %.2f, time = %i, source = %i".
    std::string description() const override;

    // Fields; see the table of codes in the collector's notes: state 0 charged or nothing to
    // report, 1 charging, 2 discharging, 3 on AC and not charging; source -1 unknown, 0
    // battery, 1 AC (a peripheral: charging); time minutes, -1 unknown, -2 charged, -3 on AC
    // without a time to full; type 0 internal battery, 1 other source, 2 peripheral.
    float percentage = -1.0f;
    int64_t state = -1;
    int64_t source = -1;
    int64_t time = -1;
    int64_t type = -1;
    int64_t cycles = -1;
    float health = -1.0f;
    int64_t condition = -1;
    int64_t subtype = -1;
    float voltage = 0, amperage = 0;
    float designCapacity = 0, maximumCapacity = 0, currentCapacity = 0;
    float percentageLeft = 0, percentageRight = 0, percentageCase = 0;
    double manufactureTime = 0;
    double sourceTime = 0;
    double sourceTimeSleep = 0;
    bool delay = false;
    bool firstUpdate = true;
    std::optional<std::string> name;
    std::optional<std::string> product;
};

}  // namespace telvo
