#pragma once
// BatteryStatCollector: the machine's power sources and the batteries of Bluetooth
// peripherals, one item each, served as stat type "battery" (storage type 2, tables
// "<level>batteryhistory" and "<level>batteryidhistory"). Besides the level tables it keeps
// three change tables in the local history file: "battery_cycles", "battery_health" and
// "battery_sources". It samples on every sixth tick; the sampling is the platform class's
// (BatteryStatCollectorMac).
#include <cstdint>
#include <string>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class BatteryStatCollector : public StatCollector {
public:
    BatteryStatCollector();
    // percentage, state, source.
    static int64_t sampleCount() { return 3; }
    static int64_t storageTypeValue() { return 2; }
    static std::string statTypeName() { return "battery"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "BatteryStatCollector"; }

    ItemFactory itemClass() const override;
    // Ticks 0, 6, 12, ...
    bool shouldUpdateStateForSequence(int64_t sequence) override;
    // The change tables are made where missing (each in its own call on the local file); the
    // answer is the flag it was given, so making them is no schema change of the level tables.
    bool migrateDatabase(bool flag) override;
    // A collector-level "s" element: only "t", the sample's time (collector-level samples serve
    // storage type 1 only, so replies never carry it).
    Value xmlSampleFromSample(const statsample& sample, int64_t protocol) const override;
    bool xmlSamplesInBaseForm() const override { return false; }
    double updateFrequencyForVersion(int64_t) const override { return 6.0; }
};

}  // namespace telvo
