#include "collectors/framework/StatCollectorItem.h"

#include "collectors/framework/SampleWriting.h"
#include "collectors/framework/XMLNumberFormat.h"
#include "collectors/framework/XMLSampleForm.h"
#include "platform/time/Clock.h"

namespace telvo {

StatCollectorItem::StatCollectorItem(int64_t sampleValueCount) : storage_(sampleValueCount) {
    for (int64_t l = 0; l < kSampleLevelCount; ++l) {
        sampleindexconfig& rec = storage_.level(l);
        rec.sampleID = 0;
        rec.time = 0;
        rec.nextTime = 0;
        clearStorageForType(l);
    }
    storage_.emptyValue().empty = 1;
}

StatCollectorItem::~StatCollectorItem() { cleanup(); }

void StatCollectorItem::cleanup() {
    if (cleanedUp_) return;
    cleanedUp_ = true;
    storage_.release();
}

statsample* StatCollectorItem::storageForType(int64_t level) const { return storage_.ring(level); }

statsample StatCollectorItem::sampleAtIndex(int64_t slot, int64_t level) const { return storage_.slot(slot, level); }

statsample StatCollectorItem::sampleWithIdentifier(double sampleID, int64_t level) {
    // Only levels whose values are loaded are searched.
    return storage_.sampleWithIdentifier(sampleID, level, isSampleLevel(level) && storage_.level(level).valuesLoaded);
}

sampleindexconfig StatCollectorItem::sampleIndex(int64_t level) const {
    return isSampleLevel(level) ? storage_.level(level) : sampleindexconfig{};
}

double StatCollectorItem::idForInterval(int64_t level) const {
    return isSampleLevel(level) ? storage_.level(level).sampleID : 0;
}

void StatCollectorItem::setID(double sampleID, int64_t level) { setSampleID(sampleID, level); }

void StatCollectorItem::setTime(double time, int64_t level) {
    if (isSampleLevel(level)) storage_.level(level).time = time;
}

void StatCollectorItem::setNextTime(double time, int64_t level) {
    if (isSampleLevel(level)) storage_.level(level).nextTime = time;
}

void StatCollectorItem::setSampleID(double sampleID, int64_t level) {
    if (isSampleLevel(level)) storage_.level(level).sampleID = sampleID;
}

double StatCollectorItem::lowestSampleForStorageType(int64_t level) const {
    statsample* ring = storageForType(level);
    if (!ring || !storage_.level(level).valuesLoaded) return 0;
    double v = ring[0].sampleID;
    return v == -1 ? 0 : v;
}

void StatCollectorItem::clearStorageForType(int64_t level) { storage_.clearLevel(level, true); }

void StatCollectorItem::clearAllStorages() {
    for (int64_t l = 0; l < kSampleLevelCount; ++l) clearStorageForType(l);
}

void StatCollectorItem::addSample(const Value& sample, int64_t level) {
    statsample* ring = storageForType(level);
    if (!ring) return;
    double number = samplewriting::sampleNumber(sample, config_["addSampleIDKeys"]);
    if (number == 0) number = ring[0].sampleID + 1;
    if (number < 1 || number <= ring[0].sampleID) return;
    PushSamples(ring, sampleValueCount());
    addSampleAtIndex(sample, level, 0, number);
}

void StatCollectorItem::addSampleAtIndex(const Value& sample, int64_t level, int64_t slot) {
    addSampleAtIndex(sample, level, slot, samplewriting::sampleNumber(sample, config_["addSampleIDKeys"]));
}

void StatCollectorItem::addSampleAtIndex(const Value& sample, int64_t level, int64_t slot, double sampleID) {
    statsample* ring = storageForType(level);
    if (!ring || slot < 0 || slot >= kSamplesPerLevel) return;
    statsample& s = ring[slot];
    samplewriting::writeValues(s, sample, config_["addSampleMap"], sampleValueCount());
    const Value& empty = sample["empty"];
    s.empty = empty.intValue() == 1 ? 1 : 0;
    s.sampleID = sampleID;
    if (slot == 0) {
        storage_.level(level).sampleID = s.sampleID;
        storage_.level(level).time = s.time;
    }
}

Value StatCollectorItem::averagesForIndex(int64_t level) const {
    if (!isSampleLevel(level)) return Value();
    const sampleindexconfig& rec = storage_.level(level);
    samplewriting::AverageWindow window;
    window.start = rec.time - rec.interval;
    window.upper = rec.historyIndex == 0 ? rec.time + 0.99 : rec.time;
    window.applyTests = true;
    Value result = samplewriting::average(storageForType(rec.historyIndex), sampleValueCount(), window,
                                          config_["sampleKeys"]);
    result.set("time", Value(window.start));
    return result;
}

Value StatCollectorItem::historyItemForIndex(int64_t level) const {
    if (key_.empty() || !isSampleLevel(level)) return Value();
    Value result = averagesForIndex(level);
    const sampleindexconfig& rec = storage_.level(level);
    result.set("time", Value(rec.time - rec.interval));
    result.set("uuid", Value(key_));
    return result;
}

void StatCollectorItem::addValue(const Value&, const Value&) {}

int StatCollectorItem::sort(const StatCollectorItem&) const { return -1; }

Value StatCollectorItem::attributeFromAttributes(const Value&) { return Value(); }

bool StatCollectorItem::indexesCompare(const std::vector<int64_t>& positions, double threshold, double seconds,
                                       bool below) const {
    return samplewriting::liveSumsPass(storageForType(0), sampleValueCount(), positions, threshold,
                                      platform::Clock::now() - seconds, below);
}

bool StatCollectorItem::indexesBelowValue(const std::vector<int64_t>& positions, double threshold,
                                          double seconds) const {
    return indexesCompare(positions, threshold, seconds, true);
}

bool StatCollectorItem::indexesAboveValue(const std::vector<int64_t>& positions, double threshold,
                                          double seconds) const {
    return indexesCompare(positions, threshold, seconds, false);
}

Value StatCollectorItem::xmlSampleFromSample(const statsample& sample, int64_t, int64_t protocol) const {
    return xmlsampleform::sampleDictionary(sample, config_, sampleValueCount(), protocol, true);
}

ValueArray StatCollectorItem::xmlSamplesSinceID(double sinceID, int64_t level, int64_t protocol) const {
    ValueArray out;
    statsample* ring = storageForType(level);
    if (!ring) return out;
    if (sinceID == -1) {
        if (ring[0].sampleID > -1) {
            Value d = xmlSampleFromSample(ring[0], level, protocol);
            d.set("id", Value("-1"));
            out.push_back(std::move(d));
        }
        return out;
    }
    for (int64_t s = kSamplesPerLevel - 1; s >= 0; --s) {
        const statsample& slot = ring[s];
        if (!(slot.sampleID > sinceID)) continue;
        Value d = xmlSampleFromSample(slot, level, protocol);
        d.set("id", Value(xmlnumber::whole(slot.sampleID)));
        out.push_back(std::move(d));
    }
    return out;
}

Value StatCollectorItem::xmlStorageItem() const { return Value(); }

Value StatCollectorItem::xmlSamplesFromAttributes(const Value&) const { return Value(); }

Value StatCollectorItem::xmlDefaultSamplesFromAttributes(const Value& attributes) const {
    Value item = xmlStorageItem();
    if (!item.isDictionary()) item = Value(ValueDictionary{});
    item.set("samples", Value(xmlSamplesSinceID(attributes["sampleKey"].doubleValue(), attributes["index"].intValue(),
                                                attributes["protocol"].intValue())));
    return item;
}

std::string StatCollectorItem::description() const { return "<StatCollectorItem: " + key_ + ">"; }

}  // namespace telvo
