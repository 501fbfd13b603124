#include "collectors/framework/XMLSampleForm.h"

#include "collectors/framework/XMLNumberFormat.h"

namespace telvo::xmlsampleform {

namespace {
bool protocolListed(const Value& list, int64_t protocol) {
    for (const Value& entry : list.array())
        if (entry.isNumber() && entry.intValue() == protocol) return true;
    return false;
}
bool nameListed(const Value& list, const std::string& name) {
    for (const Value& entry : list.array())
        if (entry.isString() && entry.string() == name) return true;
    return false;
}
bool stepApplies(const Value& config, const char* factorKey, const char* protocolsKey, const char* excludeKey,
                 const std::string& name, int64_t protocol) {
    if (!config.has(factorKey)) return false;
    if (config.has(protocolsKey) && !protocolListed(config[protocolsKey], protocol)) return false;
    if (config.has(excludeKey) && nameListed(config[excludeKey], name)) return false;
    return true;
}
}  // namespace

double scaled(double v, const std::string& name, const Value& config, int64_t protocol) {
    if (stepApplies(config, "xmlSampleDivide", "xmlSampleDivideProtocols", "xmlSampleDivideExcludeKeys", name, protocol))
        v = v / config["xmlSampleDivide"].doubleValue();
    if (stepApplies(config, "xmlSampleMultiply", "xmlSampleMultiplyProtocols", "xmlSampleMultiplyExcludeKeys", name,
                    protocol))
        v = v * config["xmlSampleMultiply"].doubleValue();
    return v;
}

Value sampleDictionary(const statsample& sample, const Value& config, int64_t count, int64_t protocol,
                       bool emptyAsBoolean) {
    ValueDictionary d;
    for (const auto& [name, position] : config["xmlSampleKeys"].dictionary()) {
        int64_t p = position.isNumber() ? position.intValue() : 0;
        if (p < 0 || p >= count || !sample.values) {
            d[name] = Value(std::string());
            continue;
        }
        d[name] = Value(xmlnumber::value(scaled(sample.values[p], name, config, protocol)));
    }
    if (sample.empty) d["empty"] = emptyAsBoolean ? Value(true) : Value("1");
    d["time"] = Value(xmlnumber::whole(sample.time));
    return Value(std::move(d));
}

}  // namespace telvo::xmlsampleform
