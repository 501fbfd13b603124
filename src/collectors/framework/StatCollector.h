#pragma once
// StatCollector: the base of every statistics collector. A concrete collector derives from
// it, fills its configuration dictionary in its constructor, takes a live sample in
// updateStats() on each one-second tick, and leaves the rest to the framework: the nine
// sample levels and their averaging, the ordered item list found by key, the one-second
// clock on the main queue, the delegates, the history tables (StatCollectorDatabase.cpp) and
// the XML sample form with the answer to a statistics request (StatCollectorXML*.cpp).
// Collectors are owned through std::shared_ptr (the clock keeps only a weak reference).
// Everything runs on the main queue; no locks.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/ClockSteps.h"
#include "collectors/framework/SampleStorage.h"
#include "collectors/framework/SampleTypes.h"
#include "collectors/framework/StatCollectorDelegate.h"
#include "collectors/framework/StatCollectorItem.h"
#include "collectors/framework/StatNode.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"

namespace telvo {

class StatCollector;
using StatCollectorPtr = std::shared_ptr<StatCollector>;

class StatCollectorBase {
public:
    virtual ~StatCollectorBase() = default;
    bool selected() const { return selected_; }
    void setSelected(bool v) { selected_ = v; }
    bool loadingHistory() const { return loadingHistory_; }
    void setLoadingHistory(bool v) { loadingHistory_ = v; }
    // Tags "%li:%@" (level, item key) of the items sent in the current request.
    std::vector<std::string>& xmlAddedKeys() { return xmlAddedKeys_; }

private:
    bool selected_ = false;
    bool loadingHistory_ = false;
    std::vector<std::string> xmlAddedKeys_;
};

class StatCollector : public StatCollectorBase, public std::enable_shared_from_this<StatCollector> {
public:
    using UpdaterBlock = std::function<void(StatCollector&, int64_t sequence, double sampleID)>;
    using FinishBlock = std::function<void(StatCollector&)>;
    using ItemFactory = std::function<StatCollectorItemPtr()>;

    // `_initWithSampleCount:`: a concrete collector passes its class's sample count.
    explicit StatCollector(int64_t sampleValueCount = sampleCount());
    ~StatCollector() override;
    StatCollector(const StatCollector&) = delete;
    StatCollector& operator=(const StatCollector&) = delete;

    static int64_t sampleCount() { return 0; }

    // ---- Hooks of concrete collectors
    // The live sample; the base's updateStats(sequence) calls updateStats().
    virtual void updateStats(int64_t sequence);
    virtual void updateStats();
    // NO in the base; YES moves the sampling step to the global queue.
    virtual bool threadedUpdating() const;
    // Whether this tick samples: YES without delegates, else YES when a delegate that
    // answers collector:shouldUpdateStateForSequence: says YES.
    virtual bool shouldUpdateStateForSequence(int64_t sequence);
    // Each level-8 sample; empty in the base.
    virtual void addLongTermSample(const Value& sample);
    // Starts the clock; an override calls the base first.
    virtual void startLogging();
    // The factory of newItemWithKey (the item class); none in the base.
    virtual ItemFactory itemClass() const;
    virtual void cleanup();
    virtual Value overview() const { return Value(); }
    virtual Value attributeFromAttributes(const Value&) { return Value(); }
    virtual Value sampleItemsSinceID(double, int64_t) { return Value(); }
    virtual double updateFrequencyForVersion(int64_t) const { return 2.0; }
    // A short text naming the collector in log lines and queue labels.
    virtual std::string description() const;

    // ---- Levels
    statsample* storageForType(int64_t level) const;
    statsample sampleAtIndex(int64_t slot, int64_t level) const;
    statsample sampleWithIdentifier(double sampleID, int64_t level);
    sampleindexconfig sampleIndex(int64_t level) const;
    // The mutable record of a level (0 to 8); null for another level.
    sampleindexconfig* sampleIndexRecord(int64_t level);
    double idForInterval(int64_t level) const;
    void setID(double sampleID, int64_t level);  // setID:forInterval:
    double lowestSampleForStorageType(int64_t level) const;
    void clearStorageForType(int64_t level);
    void clearAllStorages();
    Value averagesForIndex(int64_t level) const;
    virtual Value historyItemForIndex(int64_t level) const;
    Value historyItemsForIndex(int64_t level) const;
    Value historySampleForIndex(int64_t level) const;
    // "sample", "time", "empty" = 1 and every "emptySampleKeys" name = 0.
    Value emptySampleWithIdentifier(double sampleID, double time) const;

    // ---- Writing into a ring
    // addSample:storageIndex: the normal entry (a new newest sample).
    void addSample(const Value& sample, int64_t level);
    // addSample:storageIndex:sampleID: shifts and writes slot 0 with the number, unchecked.
    void addSampleWithSampleID(const Value& sample, int64_t level, double sampleID);
    // addSample:storageIndex:index: writes one slot without shifting, under the same
    // acceptance rule as addSample.
    void addSampleAtIndex(const Value& sample, int64_t level, int64_t slot);
    // addSample:storageIndex:sampleID:index: the common writer of one slot.
    void addSampleWithSampleIDAtIndex(const Value& sample, int64_t level, double sampleID, int64_t slot);

    // ---- Level advance
    void updateHistory();
    void insertSampleWithIndex(int64_t level);
    void checkNextTimeAtIndex(int64_t level);
    void fillGaps();
    void fillGapsAtIndex(int64_t level);

    // ---- The clock
    // One tick (the timer's handler).
    void updateSamplesAndLogging();
    void resetUpdateSequence() {}
    // Looks whether the wall clock stepped since the last look (each tick looks first) and,
    // when it did, hands the step to wallClockStepped.
    void noticeClockStep();
    // The wall clock stepped by `step` seconds: the level schedules move with it, so that a
    // day ahead and back does not stop the history until the clock catches up, and a step
    // forwards writes no rows for time that never passed. Samples keep the times they were
    // taken at. A collector with schedules of its own re-bases them too and calls the base.
    virtual void wallClockStepped(double step);

    // ---- Delegates
    void addDelegate(const StatCollectorDelegatePtr& delegate);
    void removeDelegate(const StatCollectorDelegatePtr& delegate);
    const std::vector<StatCollectorDelegatePtr>& delegates() const { return delegates_; }
    void itemLoadedValues(StatCollectorItem& item);

    // ---- Items
    const std::vector<StatCollectorItemPtr>& items() const { return items_; }
    std::vector<StatCollectorItemPtr>& mutableItems() { return items_; }
    void setItems(std::vector<StatCollectorItemPtr> items) { items_ = std::move(items); }
    // The first item whose key (a number compares by its decimal text) equals `key`,
    // skipping temporary items unless `temporary`; with `temporary` a missing item is made
    // (newItemWithKey) and marked temporary.
    StatCollectorItemPtr itemWithKey(const Value& key, bool temporary = false);
    StatCollectorItemPtr itemWithKey(const std::string& key, bool temporary = false);
    StatCollectorItemPtr itemWithKey(const char* key, bool temporary = false) {
        return itemWithKey(std::string(key ? key : ""), temporary);
    }
    // The item with that key (its temporary mark cleared), or a new one from itemClass():
    // a copy of the configuration, the key, parent = this collector, appended to items.
    StatCollectorItemPtr newItemWithKey(const std::string& key);
    void sort();
    bool removeOldItems();
    // Items whose `exists` has been clear for more than `seconds` (never-stepping clock,
    // counted from the first call that found them absent) go, with their rings; an item that
    // is present again before then keeps everything. Freed memory is handed back to the
    // system soon after. Answers how many went.
    size_t removeItemsAbsentFor(double seconds);
    void addSelectionKeyItem(const std::string& key);
    void removeSelectionKeyItem(const std::string& key);
    void setNeedsUpdate() { needsUpdate_ = true; }
    void enableDatabase() { databaseEnabled_ = true; }
    double lastTimeForType(int64_t level) const;
    double lastIDForType(int64_t level) const;
    bool indexesBelowValue(const std::vector<int64_t>& positions, double threshold, double seconds) const;
    bool indexesAboveValue(const std::vector<int64_t>& positions, double threshold, double seconds) const;

    // ---- History tables (StatCollectorDatabase.cpp)
    // The level's table (the id table for storage type 2); "" (none) for level 0 and
    // levels outside 1 to 8.
    virtual std::string tableAtIndex(int64_t level);
    // The level's item table; "" for level 0.
    virtual std::string itemTableAtIndex(int64_t level);
    bool prepareDatabase(bool flag);
    // Schema changes of concrete collectors; the base answers the flag it is given.
    virtual bool migrateDatabase(bool flag);
    bool checkIfTablesExist(int64_t level, const std::string& path, bool flag);
    bool checkIfLongTermTablesExist(int64_t level, const std::string& path, bool flag);
    void insertSample(const Value& sample, int64_t level);  // insertSample:intoTableAtIndex:
    void removeOldSamplesAtIndex(int64_t level);
    void runDatabaseQueue();
    void loadPreviousSamples();
    void loadPreviousSamplesAtIndex(int64_t level);
    // Rows of a table, newest 603, as dictionaries (column -> value), newest first.
    std::vector<Value> samplesFromTable(const std::string& table, const std::string& path);
    void lastLongTermSample();
    // Reads one item's stored history behind what its rings hold (storage type 2); `reply`
    // runs on the main queue once every level has been read.
    void loadPreviousSamplesForItem(const StatCollectorItemPtr& item, std::function<void()> reply);
    void loadPreviousSampleItems();
    void loadPreviousSampleItemsAtIndex(int64_t level);

    // ---- XML sample form (StatCollectorXML.cpp)
    virtual std::string statType() const;
    // Adds key = value to the element ("" for a null value; numbers in decimal, booleans
    // "1"/"0").
    static void addKey(const std::string& key, const Value& value, StatNode& node);
    virtual Value xmlSampleFromSample(const statsample& sample, int64_t protocol) const;  // xmlSampleFromSample:protcol:
    // Whether the s elements of the collector's own rings (storage type 1) are the base's
    // form: a reply then only copies the slots it sends (a SampleRun, see
    // xmlReplyNodesFromAttributes). A class that overrides xmlSampleFromSample or
    // xmlSampleItemsFromAttributes answers false. Builds with assertions check every copied
    // answer against the per-sample dictionaries.
    virtual bool xmlSamplesInBaseForm() const { return true; }

    // ---- Statistics request to nodes (StatCollectorXMLResponse.cpp)
    virtual std::vector<StatNodePtr> xmlNodesFromAttributes(const Value& attributes);
    // The answer the client session sends: xmlNodesFromAttributes, with the s elements of
    // the collector's own rings in the base form kept as copied slots (StatNode::samples)
    // whose text is written with the reply's bytes, off the main queue.
    std::vector<StatNodePtr> xmlReplyNodesFromAttributes(const Value& attributes);
    std::vector<StatNodePtr> xmlNodesFromAttributes2(const Value& attributes);
    std::vector<StatNodePtr> xmlSampleNodesFromAttribute(const Value& attributes);
    virtual ValueArray xmlSampleItemsFromAttributes(const Value& attributes);
    virtual void xmlPrepareStatNode(StatNode& node);
    virtual bool xmlShouldAddSampleItem(const StatCollectorItem& item);

    // ---- Fields
    samplepeaks* samplePeaks() { return samplePeaks_; }
    const statsample& emptyValue() const { return storage_.emptyValue(); }
    bool temporary() const { return temporary_; }
    void setTemporary(bool v) { temporary_ = v; }
    bool databaseEnabled() const { return databaseEnabled_; }
    void setDatabaseEnabled(bool v) { databaseEnabled_ = v; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool v) { enabled_ = v; }
    bool newSession() const { return newSession_; }
    void setNewSession(bool v) { newSession_ = v; }
    bool stopped() const { return stopped_; }
    void setStopped(bool v) { stopped_ = v; }
    bool automaticSampleUpdates() const { return automaticSampleUpdates_; }
    void setAutomaticSampleUpdates(bool v) { automaticSampleUpdates_ = v; }
    bool needsUpdate() const { return needsUpdate_; }
    bool childrenChanged() const { return childrenChanged_; }
    void setChildrenChanged(bool v) { childrenChanged_ = v; }
    const std::string& selectionKey() const { return selectionKey_; }
    void setSelectionKey(const std::string& k) { selectionKey_ = k; }
    const StatCollectorItemPtr& activeItem() const { return activeItem_; }
    void setActiveItem(StatCollectorItemPtr i) { activeItem_ = std::move(i); }
    int64_t storageType() const { return storageType_; }
    void setStorageType(int64_t t) { storageType_ = t; }
    const std::string& dbTablePrefix() const { return dbTablePrefix_; }
    void setDbTablePrefix(const std::string& p);
    Value& config() { return config_; }
    const Value& config() const { return config_; }
    void setConfig(const Value& c) { config_ = c; }
    const UpdaterBlock& defaultUpdaterBlock() const { return defaultUpdaterBlock_; }
    void setDefaultUpdaterBlock(UpdaterBlock b) { defaultUpdaterBlock_ = std::move(b); }
    const UpdaterBlock& updaterBlock() const { return updaterBlock_; }
    void setUpdaterBlock(UpdaterBlock b) { updaterBlock_ = std::move(b); }
    const FinishBlock& updaterFinishBlock() const { return updaterFinishBlock_; }
    void setUpdaterFinishBlock(FinishBlock b) { updaterFinishBlock_ = std::move(b); }
    const dispatch::QueuePtr& queue() const { return queue_; }
    void setQueue(dispatch::QueuePtr q) { queue_ = std::move(q); }
    int64_t sampleValueCount() const { return storage_.sampleValueCount(); }
    int64_t session() const { return session_; }
    void setSession(int64_t s) { session_ = s; }
    int64_t updateSequence() const { return updateSequence_; }
    void setUpdateSequence(int64_t s) { updateSequence_ = s; }
    const std::string& dbpath() const { return dbpath_; }
    void setDbpath(const std::string& p) { dbpath_ = p; }
    const std::string& dbpathLong() const { return dbpathLong_; }
    void setDbpathLong(const std::string& p) { dbpathLong_ = p; }
    int64_t protocolVersion() const { return protocolVersion_; }
    void setProtocolVersion(int64_t v) { protocolVersion_ = v; }

private:
    void startClock();
    void samplingStep();
    void finishTick();
    void armTimer(double delaySeconds);
    void advanceLevelStep(int64_t level);
    void notifyUpdatedForMode(int64_t mode);
    bool anyItemLoadingHistory() const;
    void finishedLoadingHistory();
    const std::vector<std::string>& dbTables();
    const std::vector<std::string>& dbTablesItems();

    SampleStorage storage_;
    samplepeaks samplePeaks_[8];
    bool temporary_ = false;
    bool xmlCopySamples_ = false;  // set while xmlReplyNodesFromAttributes runs
    bool databaseEnabled_ = true;
    bool enabled_ = true;
    bool newSession_ = false;
    bool stopped_ = false;
    bool automaticSampleUpdates_ = true;
    bool needsUpdate_ = false;
    bool childrenChanged_ = false;
    std::string selectionKey_;
    StatCollectorItemPtr activeItem_;
    int64_t storageType_ = 1;
    std::string dbTablePrefix_;
    Value config_ = Value(ValueDictionary{});
    std::vector<StatCollectorDelegatePtr> delegates_;
    UpdaterBlock defaultUpdaterBlock_;
    UpdaterBlock updaterBlock_;
    FinishBlock updaterFinishBlock_;
    dispatch::QueuePtr queue_;
    int64_t session_ = 0;
    int64_t updateSequence_ = 0;
    std::string dbpath_;
    std::string dbpathLong_;
    std::vector<StatCollectorItemPtr> items_;
    int64_t protocolVersion_ = 0;
    // Per level: the newest stored sample number of a level whose stored time was not
    // trusted at load (0: none); the level's numbering goes on above it.
    double distrustedSampleID_[kSampleLevelCount] = {};
    std::vector<std::string> dbTables_;
    std::vector<std::string> dbTablesItems_;
    clocksteps::Mark clockMark_;
};

}  // namespace telvo
