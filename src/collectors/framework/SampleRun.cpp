#include "collectors/framework/SampleRun.h"

#include <map>

#include "collectors/framework/StatNodeWriter.h"
#include "collectors/framework/XMLNumberFormat.h"
#include "collectors/framework/XMLSampleForm.h"

namespace telvo {

SampleRun::SampleRun(const Value& config, int64_t valueCount, int64_t protocol) : valueCount_(valueCount) {
    // The dictionary of a sample is ordered by name; "empty", "time" and "id" are stored after
    // the values and replace a value of the same name.
    std::map<std::string, Attribute> plan;
    for (const auto& [name, position] : config["xmlSampleKeys"].dictionary()) {
        Attribute a{name, Kind::Value};
        int64_t p = position.isNumber() ? position.intValue() : 0;
        if (p >= 0 && p < valueCount) {
            a.position = p;
            xmlsampleform::ValueScaling scaling = xmlsampleform::scalingFor(name, config, protocol);
            a.divide = scaling.divide;
            a.divisor = scaling.divisor;
            a.multiply = scaling.multiply;
            a.factor = scaling.factor;
        }
        plan.emplace(name, a);
    }
    auto empty = plan.find("empty");
    if (empty != plan.end())
        empty->second.kind = Kind::ValueOrEmpty;
    else
        plan.emplace("empty", Attribute{"empty", Kind::Empty});
    plan["time"] = Attribute{"time", Kind::Time};
    plan["id"] = Attribute{"id", Kind::Id};
    for (auto& [name, a] : plan) {
        std::string opening(1, ' ');
        statnodewriter::appendName(opening, a.name);
        opening.append("=\"", 2);
        a.opening = std::move(opening);
        attributes_.push_back(std::move(a));
    }
}

void SampleRun::add(const statsample& slot) {
    const bool has = slot.values != nullptr;
    hasValues_.push_back(has);
    for (int64_t i = 0; i < valueCount_; ++i) values_.push_back(has ? slot.values[i] : 0.0);
    times_.push_back(slot.time);
    ids_.push_back(slot.sampleID);
    empty_.push_back(slot.empty != 0);
}

template <class Emit>
void SampleRun::each(size_t sample, Emit&& emit) const {
    for (const Attribute& a : attributes_) {
        if (a.kind == Kind::Empty && !empty_[sample]) continue;
        emit(a);
    }
}

void SampleRun::appendText(std::string& out, const Attribute& a, size_t sample) const {
    switch (a.kind) {
        case Kind::Empty:
            out += '1';
            break;
        case Kind::ValueOrEmpty:
            if (empty_[sample]) {
                out += '1';
                break;
            }
            [[fallthrough]];
        case Kind::Value:
            if (a.position >= 0 && hasValues_[sample]) {
                double v = values_[sample * size_t(valueCount_) + size_t(a.position)];
                if (a.divide) v = v / a.divisor;
                if (a.multiply) v = v * a.factor;
                xmlnumber::appendValue(out, v);
            }
            break;
        case Kind::Time:
            xmlnumber::appendWhole(out, times_[sample]);
            break;
        case Kind::Id:
            xmlnumber::appendWhole(out, ids_[sample]);
            break;
    }
}

std::string SampleRun::text(const Attribute& a, size_t sample) const {
    std::string out;
    appendText(out, a, sample);
    return out;
}

size_t SampleRun::estimatedBytes() const {
    size_t perSample = 9;  // "<s" and "></s>" and a little
    for (const Attribute& a : attributes_) perSample += a.opening.size() + 12;
    return size() * perSample;
}

void SampleRun::appendXML(std::string& out) const {
    // The texts are numbers and "1": nothing in them needs escaping.
    for (size_t sample = 0; sample < size(); ++sample) {
        out += "<s";
        each(sample, [&](const Attribute& a) {
            out += a.opening;
            appendText(out, a, sample);
            out += '"';
        });
        out += "></s>";
    }
}

std::vector<StatNodePtr> SampleRun::nodes() const {
    std::vector<StatNodePtr> out;
    for (size_t sample = 0; sample < size(); ++sample) {
        StatNodePtr s = StatNode::element("s");
        each(sample, [&](const Attribute& a) { s->setAttribute(a.name, text(a, sample)); });
        out.push_back(s);
    }
    return out;
}

}  // namespace telvo
