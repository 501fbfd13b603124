// The battery item's fields and item element.
#include "collectors/system/BatteryStatCollectorItem.h"

#include "collectors/framework/XMLNumberFormat.h"
#include "collectors/system/BatteryStatCollector.h"
#include "foundation/extensions/XmlSafeText.h"
#include "platform/values/Format.h"

namespace telvo {

BatteryStatCollectorItem::BatteryStatCollectorItem() : StatCollectorItem(sampleCount()) {}

int64_t BatteryStatCollectorItem::sampleCount() { return BatteryStatCollector::sampleCount(); }

Value BatteryStatCollectorItem::xmlStorageItem() const {
    ValueDictionary d;
    d["time"] = Value(xmlnumber::integer(time));
    d["source"] = Value(xmlnumber::integer(source));
    d["type"] = Value(xmlnumber::integer(type));
    d["state"] = Value(xmlnumber::integer(state));
    d["cycles"] = Value(xmlnumber::integer(cycles));
    d["percentage"] = Value(xmlnumber::value(percentage));
    d["health"] = Value(xmlnumber::value(health));
    d["uuid"] = Value(xmlSafeText(key()));
    if (name) d["name"] = Value(xmlSafeText(*name));
    return Value(std::move(d));
}

Value BatteryStatCollectorItem::xmlSamplesFromAttributes(const Value& attributes) const {
    return xmlDefaultSamplesFromAttributes(attributes);
}

std::string BatteryStatCollectorItem::description() const {
    return format("key = %@, name = %@, state = %i, percentage = %.2f, time = %i, source = %i", key(),
                  name ? Value(*name) : Value(), state, double(percentage), time, source);
}

}  // namespace telvo
