#include "collectors/sensors/SensorStatCollectorItemMac.h"

#include <cmath>

#include "sensors/SMCValueDecoder.h"

namespace telvo {

std::string SensorStatCollectorItemMac::alternateKeyFor(const std::string& key) {
    std::string text;
    for (unsigned char ch : key) text = std::to_string(int(ch)) + text;
    return text;
}

float SensorStatCollectorItemMac::valueForSensorKey(const std::string& key) {
    return static_cast<float>(smcvalues::valueForSMCKey(key, nullptr));
}

float SensorStatCollectorItemMac::readingFor(const std::string& key, const Value& sensorConfig) {
    if (!sensorConfig.has("multiply")) return valueForSensorKey(key);
    const Value& multiply = sensorConfig["multiply"];
    if (sensorConfig["type"].stringValue() != "watts" || !multiply.isArray() || multiply.count() != 2) return 0;
    const float volts = valueForSensorKey(multiply.at(0).stringValue());
    const float amps = valueForSensorKey(multiply.at(1).stringValue());
    if (volts == -1 || amps == -1) return -1;
    const float watts = std::fabs(volts * amps);
    return std::isfinite(watts) ? watts : -1;
}

void SensorStatCollectorItemMac::updateValue() {
    if (subType() == 1) return;
    setValue(readingFor(key(), sensorConfig()));
    updateLimits();
}

void SensorStatCollectorItemMac::loadMinimumValue() {
    if (key().size() < 2) return;
    setLow(valueForSensorKey(key().substr(0, 2) + "Mn"));
}

void SensorStatCollectorItemMac::loadMaximumValue() {
    if (key().size() < 2) return;
    const float max = valueForSensorKey(key().substr(0, 2) + "Mx");
    if (max > 0 && max > high()) setHigh(max);
}

}  // namespace telvo
