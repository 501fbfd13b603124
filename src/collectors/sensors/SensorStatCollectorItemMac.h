#pragma once
// SensorStatCollectorItemMac: a sensor read from the SMC. A reading is the decoded value of the
// sensor's key, or for a computed power entry the absolute product of its voltage and current
// keys (-1 when either is absent); fans take their limits from the keys "F<n>Mn"/"F<n>Mx".
#include <string>

#include "collectors/sensors/SensorStatCollectorItem.h"

namespace telvo {

class SensorStatCollectorItemMac : public SensorStatCollectorItem {
public:
    // The text clients name a sensor by: the decimal code of each key character, the last first
    // ("TC0P" gives "80486784").
    static std::string alternateKeyFor(const std::string& key);
    // The decoded value of one key (-1 when absent).
    static float valueForSensorKey(const std::string& key);
    // The reading of a sensor-table entry's key: |V x I| for a "watts" entry of exactly two keys
    // (-1 when either reads -1 or the product is not finite), 0 for any other "multiply" entry,
    // else the key's own value.
    static float readingFor(const std::string& key, const Value& sensorConfig);

    void loadAlternateKey() { setAlternateKey(alternateKeyFor(key())); }
    // Takes a new reading, then the recorded extremes and the percentage.
    void updateValue();
    // low = the decoded "%@Mn" of the key's first two characters, whatever it is.
    void loadMinimumValue();
    // high = the decoded "%@Mx" when above 0 and above high.
    void loadMaximumValue();

    bool intelFrequencySensor() const { return intelFrequencySensor_; }
    void setIntelFrequencySensor(bool v) { intelFrequencySensor_ = v; }

private:
    bool intelFrequencySensor_ = false;
};

}  // namespace telvo
