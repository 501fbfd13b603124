// The XML sample form on the collector side: the stat type, attributes and the sample
// dictionary of one collector-level slot.
#include <cmath>

#include "collectors/framework/StatCollector.h"
#include "collectors/framework/XMLSampleForm.h"

namespace telvo {

std::string StatCollector::statType() const { return std::string(); }

void StatCollector::addKey(const std::string& key, const Value& value, StatNode& node) {
    std::string text;
    if (value.isString())
        text = value.string();
    else if (value.isBoolean())
        text.assign(1, value.boolValue() ? '1' : '0');
    else if (value.isDouble())
        text = std::isfinite(value.doubleValue()) ? value.stringValue() : std::string();
    else if (value.isNumber())
        text = value.stringValue();
    node.setAttribute(key, text);
}

Value StatCollector::xmlSampleFromSample(const statsample& sample, int64_t protocol) const {
    return xmlsampleform::sampleDictionary(sample, config_, sampleValueCount(), protocol, false);
}

}  // namespace telvo
