#pragma once
// SensorStatCollectorItem: one sensor of the sensors collector (temperature, fan, voltage,
// current, power or another SMC reading). It keeps the sensor's description (name, type,
// discovery index, sensor-table entry), its current value, the fixed limits that turn the value
// into a percentage, and the lowest and highest values ever recorded; its value and percentage
// samples live in the framework's rings. Its XML form writes every attribute unescaped: the
// protocol's writer escapes them, once.
#include <string>

#include "collectors/framework/StatCollectorItem.h"

namespace telvo {

class SensorStatCollectorItem : public StatCollectorItem {
public:
    SensorStatCollectorItem();
    static int64_t sampleCount();

    // Adds a level-0 sample of `value` and the current percentage under `sampleID`.
    void addValue(float value, double sampleID);
    void addValue(const Value& value, const Value& identifier) override;
    // The framework's history dictionary with "type" = the sensor type.
    Value historyItemForIndex(int64_t level) const override;
    // By type, then by name ignoring case.
    int sort(const StatCollectorItem& other) const override;
    std::string description() const override;

    // Moves the recorded extremes to take in `value`, then updates the percentage.
    void updateLimits();
    void updatePercentage();

    Value xmlStorageItem() const override;
    Value xmlSamplesFromAttributes(const Value& attributes) const override;

    const Value& sensorConfig() const { return sensorConfig_; }
    void setSensorConfig(const Value& v) { sensorConfig_ = v; }
    const std::string& name() const { return name_; }
    void setName(const std::string& v) { name_ = v; }
    int64_t index() const { return index_; }
    void setIndex(int64_t v) { index_ = v; }
    int64_t type() const { return type_; }
    void setType(int64_t v) { type_ = v; }
    int64_t subType() const { return subType_; }
    void setSubType(int64_t v) { subType_ = v; }
    float value() const { return value_; }
    void setValue(float v) { value_ = v; }
    float low() const { return low_; }
    void setLow(float v) { low_ = v; }
    float high() const { return high_; }
    void setHigh(float v) { high_ = v; }
    bool recordedValueChanged() const { return recordedValueChanged_; }
    void setRecordedValueChanged(bool v) { recordedValueChanged_ = v; }
    float lowestRecordedValue() const { return lowestRecordedValue_; }
    void setLowestRecordedValue(float v) { lowestRecordedValue_ = v; }
    float highestRecordedValue() const { return highestRecordedValue_; }
    void setHighestRecordedValue(float v) { highestRecordedValue_ = v; }
    float percentage() const { return percentage_; }
    bool defaultSensor() const { return defaultSensor_; }
    void setDefaultSensor(bool v) { defaultSensor_ = v; }
    bool hasFixedLimits() const { return hasFixedLimits_; }
    void setHasFixedLimits(bool v) { hasFixedLimits_ = v; }

protected:
    Value sensorConfig_;
    std::string name_;
    int64_t index_ = 0;
    int64_t type_ = 0;
    int64_t subType_ = 0;
    float value_ = 0;
    float low_ = 0;
    float high_ = 0;
    bool recordedValueChanged_ = false;
    float lowestRecordedValue_ = -1;
    float highestRecordedValue_ = 0;
    float percentage_ = 0;
    bool defaultSensor_ = false;
    bool hasFixedLimits_ = false;
};

}  // namespace telvo
