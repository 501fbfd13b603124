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

// One scaling step (divide or multiply) as the configuration states it for one protocol,
// read once per sample rather than once per value.
struct Step {
    bool applies = false;  // a factor is configured and the protocol is among those listed
    double factor = 1;
    const Value* excluded = nullptr;

    Step(const Value& config, const std::string& factorKey, const std::string& protocolsKey,
         const std::string& excludeKey, int64_t protocol) {
        const ValueDictionary& d = config.dictionary();
        auto f = d.find(factorKey);
        if (f == d.end()) return;
        auto p = d.find(protocolsKey);
        if (p != d.end() && !protocolListed(p->second, protocol)) return;
        auto e = d.find(excludeKey);
        if (e != d.end()) excluded = &e->second;
        factor = f->second.doubleValue();
        applies = true;
    }
    bool appliesTo(const std::string& name) const { return applies && !(excluded && nameListed(*excluded, name)); }
};

struct Scaling {
    Step divide;
    Step multiply;
    Scaling(const Value& config, int64_t protocol)
        : divide(config, kDivide, kDivideProtocols, kDivideExclude, protocol),
          multiply(config, kMultiply, kMultiplyProtocols, kMultiplyExclude, protocol) {}
    double apply(double v, const std::string& name) const {
        if (divide.appliesTo(name)) v = v / divide.factor;
        if (multiply.appliesTo(name)) v = v * multiply.factor;
        return v;
    }
    static inline const std::string kDivide = "xmlSampleDivide";
    static inline const std::string kDivideProtocols = "xmlSampleDivideProtocols";
    static inline const std::string kDivideExclude = "xmlSampleDivideExcludeKeys";
    static inline const std::string kMultiply = "xmlSampleMultiply";
    static inline const std::string kMultiplyProtocols = "xmlSampleMultiplyProtocols";
    static inline const std::string kMultiplyExclude = "xmlSampleMultiplyExcludeKeys";
};

const std::string kXMLSampleKeys = "xmlSampleKeys";
}  // namespace

double scaled(double v, const std::string& name, const Value& config, int64_t protocol) {
    return Scaling(config, protocol).apply(v, name);
}

ValueScaling scalingFor(const std::string& name, const Value& config, int64_t protocol) {
    const Scaling scaling(config, protocol);
    ValueScaling out;
    out.divide = scaling.divide.appliesTo(name);
    out.divisor = scaling.divide.factor;
    out.multiply = scaling.multiply.appliesTo(name);
    out.factor = scaling.multiply.factor;
    return out;
}

Value sampleDictionary(const statsample& sample, const Value& config, int64_t count, int64_t protocol,
                       bool emptyAsBoolean) {
    const Scaling scaling(config, protocol);
    ValueDictionary d;
    for (const auto& [name, position] : config[kXMLSampleKeys].dictionary()) {
        int64_t p = position.isNumber() ? position.intValue() : 0;
        if (p < 0 || p >= count || !sample.values) {
            d.emplace_hint(d.end(), name, Value(std::string()));
            continue;
        }
        d.emplace_hint(d.end(), name, Value(xmlnumber::value(scaling.apply(sample.values[p], name))));
    }
    if (sample.empty) d["empty"] = emptyAsBoolean ? Value(true) : Value("1");
    d["time"] = Value(xmlnumber::whole(sample.time));
    return Value(std::move(d));
}

}  // namespace telvo::xmlsampleform
