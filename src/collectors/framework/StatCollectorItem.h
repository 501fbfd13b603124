#pragma once
// StatCollectorItem: one volume, disk, interface, battery, sensor or process inside a
// collector. It has a key, presence and history flags, a copy of its collector's
// configuration dictionary and nine sample levels of its own; for collectors of storage
// type 2 its rings are where the values live. Concrete item classes derive from it and
// override the hooks (xmlStorageItem, xmlSamplesFromAttributes, addValue, sort, ...).
// Used on the main queue only; no locks.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/SampleStorage.h"
#include "collectors/framework/SampleTypes.h"
#include "platform/values/Value.h"

namespace telvo {

class StatCollector;
class StatCollectorItem;
using StatCollectorItemPtr = std::shared_ptr<StatCollectorItem>;

class StatCollectorItemBase {
public:
    virtual ~StatCollectorItemBase() = default;
    bool hidden() const { return hidden_; }
    void setHidden(bool v) { hidden_ = v; }
    bool selected() const { return selected_; }
    void setSelected(bool v) { selected_ = v; }

private:
    bool hidden_ = false;
    bool selected_ = false;
};

class StatCollectorItem : public StatCollectorItemBase {
public:
    // `_initWithSampleCount:`: a concrete item class passes its own sample count
    // (the class's `sampleCount`); the base has none.
    explicit StatCollectorItem(int64_t sampleValueCount = sampleCount());
    ~StatCollectorItem() override;
    StatCollectorItem(const StatCollectorItem&) = delete;
    StatCollectorItem& operator=(const StatCollectorItem&) = delete;

    static int64_t sampleCount() { return 0; }

    // ---- Levels (Part of the sample levels; levels outside 0 to 8 have no ring)
    statsample* storageForType(int64_t level) const;
    // A copy of one slot; an empty sample (number 0, empty 1) without that ring or slot.
    statsample sampleAtIndex(int64_t slot, int64_t level) const;
    // The first slot from slot 0 whose number equals `sampleID`; else the spare sample
    // with empty 1 and that number.
    statsample sampleWithIdentifier(double sampleID, int64_t level);
    sampleindexconfig sampleIndex(int64_t level) const;
    double idForInterval(int64_t level) const;
    void setID(double sampleID, int64_t level);
    void setTime(double time, int64_t level);        // setTime:forSampleIndex:
    void setNextTime(double time, int64_t level);    // setNextTime:forSampleIndex:
    void setSampleID(double sampleID, int64_t level);  // setSampleID:forSampleIndex:
    // Sample number of slot 0 of the level; 0 while the level's values are not loaded.
    double lowestSampleForStorageType(int64_t level) const;
    void clearStorageForType(int64_t level);
    void clearAllStorages();

    // ---- Writing (sample dictionaries as the configuration's "addSampleMap" names them)
    // addSample:toStorage: a new newest sample (shifts the ring); dropped when its number is
    // below 1 or not above slot 0's.
    void addSample(const Value& sample, int64_t level);
    // addSample:toStorage:index: writes one slot without shifting and without the
    // acceptance test; used to append older stored history behind the ring's samples.
    void addSampleAtIndex(const Value& sample, int64_t level, int64_t slot);
    // addSample:toStorage:index:sampleID: the common writer of one slot.
    void addSampleAtIndex(const Value& sample, int64_t level, int64_t slot, double sampleID);

    // ---- Averaging
    // The average of the level's newest interval over its source level (window tests
    // always applied; "time" = the window's start).
    Value averagesForIndex(int64_t level) const;
    // Null for an item without key; otherwise the averages with "time" = level time minus
    // interval and "uuid" = key.
    virtual Value historyItemForIndex(int64_t level) const;

    // ---- Hooks for concrete items
    virtual void addValue(const Value& value, const Value& identifier);
    // Ordering against another item; the base answers ascending (-1).
    virtual int sort(const StatCollectorItem& other) const;
    virtual Value attributeFromAttributes(const Value& attributes);
    // Both answer true when, for every live sample of the last `seconds`, the sum of the
    // values at `positions` stays below (above) `threshold`.
    bool indexesBelowValue(const std::vector<int64_t>& positions, double threshold, double seconds) const;
    bool indexesAboveValue(const std::vector<int64_t>& positions, double threshold, double seconds) const;

    // Releases the ring memory, once.
    void cleanup();

    // ---- XML sample form (item side)
    // The attribute dictionary of one s element (without "id"); the level is not used.
    virtual Value xmlSampleFromSample(const statsample& sample, int64_t level, int64_t protocol) const;
    // The sample dictionaries, with "id", newer than `sinceID` (oldest first); -1 gives the
    // newest slot alone, with id "-1".
    virtual ValueArray xmlSamplesSinceID(double sinceID, int64_t level, int64_t protocol) const;
    // The attributes of the item element; null in the base.
    virtual Value xmlStorageItem() const;
    // The item dictionary for one level of a request ("sampleKey", "index", "protocol"),
    // or null to send nothing (the base). Item classes with samples answer
    // xmlStorageItem() with "samples" = xmlSamplesSinceID(...): see xmlDefaultSamplesFromAttributes.
    virtual Value xmlSamplesFromAttributes(const Value& attributes) const;
    // The common form of that override.
    Value xmlDefaultSamplesFromAttributes(const Value& attributes) const;
    virtual void xmlResetAttributes() {}
    virtual void xmlRemoveInvalidAttributes() {}

    // ---- Fields
    const statsample& emptyValue() const { return storage_.emptyValue(); }
    bool slowUpdating() const { return slowUpdating_; }
    void setSlowUpdating(bool v) { slowUpdating_ = v; }
    bool temporary() const { return temporary_; }
    void setTemporary(bool v) { temporary_ = v; }
    bool nohistory() const { return nohistory_; }
    void setNohistory(bool v) { nohistory_ = v; }
    bool exists() const { return exists_; }
    void setExists(bool v) { exists_ = v; }
    // Since when (never-stepping clock, seconds) the collector's expiry has found the item
    // absent; 0 while present or not looked at yet (StatCollector::removeItemsAbsentFor).
    double absentSince() const { return absentSince_; }
    void setAbsentSince(double t) { absentSince_ = t; }
    bool loadedHistory() const { return loadedHistory_; }
    void setLoadedHistory(bool v) { loadedHistory_ = v; }
    bool loadingHistory() const { return loadingHistory_; }
    void setLoadingHistory(bool v) { loadingHistory_ = v; }
    bool cleanedUp() const { return cleanedUp_; }
    const std::string& key() const { return key_; }
    void setKey(const std::string& k) { key_ = k; }
    const std::string& alternateKey() const { return alternateKey_; }
    void setAlternateKey(const std::string& k) { alternateKey_ = k; }
    Value& config() { return config_; }
    const Value& config() const { return config_; }
    void setConfig(const Value& c) { config_ = c; }
    int64_t sampleValueCount() const { return storage_.sampleValueCount(); }
    int64_t protocolVersion() const { return protocolVersion_; }
    void setProtocolVersion(int64_t v) { protocolVersion_ = v; }
    StatCollector* parent() const { return parent_; }
    void setParent(StatCollector* p) { parent_ = p; }
    // A short text naming the item in log lines.
    virtual std::string description() const;

private:
    bool indexesCompare(const std::vector<int64_t>& positions, double threshold, double seconds, bool below) const;

    SampleStorage storage_;
    bool slowUpdating_ = false;
    bool temporary_ = false;
    bool nohistory_ = false;
    bool exists_ = false;
    double absentSince_ = 0;
    bool loadedHistory_ = false;
    bool loadingHistory_ = false;
    bool cleanedUp_ = false;
    std::string key_;
    std::string alternateKey_;
    Value config_ = Value(ValueDictionary{});
    int64_t protocolVersion_ = 0;
    StatCollector* parent_ = nullptr;
};

}  // namespace telvo
