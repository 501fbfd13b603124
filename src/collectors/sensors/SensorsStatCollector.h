#pragma once
// SensorsStatCollector: the platform-neutral sensors collector (stat type "sensors", storage
// type 2, two values per sample: value and percentage, tables "<level>_sensorhistory" and
// "<level>_sensoridhistory"). Its own lookup finds a sensor by key or by the alternate key that
// clients name it by.
#include <string>

#include "collectors/framework/StatCollector.h"
#include "collectors/sensors/SensorStatCollectorItem.h"

namespace telvo {

class SensorsStatCollector : public StatCollector {
public:
    SensorsStatCollector();
    static int64_t sampleCount() { return 2; }

    std::string statType() const override { return "sensors"; }
    double updateFrequencyForVersion(int64_t) const override { return 6.0; }
    ItemFactory itemClass() const override;

    // The framework's lookup by key, else the first item (temporary or not) whose alternate
    // key is `key`; null when neither.
    std::shared_ptr<SensorStatCollectorItem> sensorWithKey(const std::string& key);
};

}  // namespace telvo
