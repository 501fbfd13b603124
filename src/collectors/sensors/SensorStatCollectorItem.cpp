#include "collectors/sensors/SensorStatCollectorItem.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "collectors/sensors/SensorsStatCollector.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"

namespace telvo {

SensorStatCollectorItem::SensorStatCollectorItem() : StatCollectorItem(sampleCount()) {}

int64_t SensorStatCollectorItem::sampleCount() { return SensorsStatCollector::sampleCount(); }

void SensorStatCollectorItem::addValue(float value, double sampleID) {
    ValueDictionary d;
    d["percentage"] = Value(double(percentage_));
    d["value"] = Value(double(value));
    d["sample"] = Value(sampleID);
    d["time"] = Value(platform::Clock::now());
    addSample(Value(std::move(d)), 0);
}

void SensorStatCollectorItem::addValue(const Value& value, const Value& identifier) {
    addValue(float(value.doubleValue()), identifier.doubleValue());
}

Value SensorStatCollectorItem::historyItemForIndex(int64_t level) const {
    Value item = StatCollectorItem::historyItemForIndex(level);
    if (item.isDictionary()) item.set("type", Value(static_cast<long long>(type_)));
    return item;
}

int SensorStatCollectorItem::sort(const StatCollectorItem& other) const {
    const auto* o = dynamic_cast<const SensorStatCollectorItem*>(&other);
    if (!o) return -1;
    if (type_ != o->type_) return type_ < o->type_ ? -1 : 1;
    const size_t n = std::min(name_.size(), o->name_.size());
    for (size_t i = 0; i < n; ++i) {
        const int a = std::tolower(static_cast<unsigned char>(name_[i]));
        const int b = std::tolower(static_cast<unsigned char>(o->name_[i]));
        if (a != b) return a < b ? -1 : 1;
    }
    if (name_.size() == o->name_.size()) return 0;
    return name_.size() < o->name_.size() ? -1 : 1;
}

std::string SensorStatCollectorItem::description() const {
    return format("Sensor - %@, key - %@, type - %li", name_, key(), static_cast<long>(type_));
}

void SensorStatCollectorItem::updateLimits() {
    bool changed = false;
    recordedValueChanged_ = false;
    if (value_ > highestRecordedValue_) {
        highestRecordedValue_ = value_;
        changed = true;
    }
    if (value_ > 0 && (lowestRecordedValue_ > value_ || lowestRecordedValue_ == -1)) {
        lowestRecordedValue_ = value_;
        changed = true;
    }
    recordedValueChanged_ = changed;
    updatePercentage();
}

void SensorStatCollectorItem::updatePercentage() {
    float p;
    if (low_ < 0 || high_ < 0) p = value_ / highestRecordedValue_;
    else p = (value_ - low_) / (high_ - low_);
    // In this order: a reading above 0 with no limits (x / 0) is infinite and so counts as 1.
    if (p < 0) p = 0;
    if (p > 1) p = 1;
    if (std::isnan(p) || std::isinf(p)) p = 0;
    percentage_ = p;
}

Value SensorStatCollectorItem::xmlStorageItem() const {
    ValueDictionary d;
    d["n"] = Value(name_);
    d["uuid"] = Value(alternateKey().empty() ? key() : alternateKey());
    d["type"] = Value(format("%li", static_cast<long>(type_)));
    d["i"] = Value(format("%li", static_cast<long>(index_)));
    d["low"] = Value(format("%.2f", double(lowestRecordedValue_)));
    d["high"] = Value(format("%.2f", double(highestRecordedValue_)));
    if (defaultSensor_) d["d"] = Value("1");
    return Value(std::move(d));
}

Value SensorStatCollectorItem::xmlSamplesFromAttributes(const Value& attributes) const {
    return xmlDefaultSamplesFromAttributes(attributes);
}

}  // namespace telvo
