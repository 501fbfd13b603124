#include "collectors/framework/StatCollector.h"

#include <algorithm>
#include <cmath>

#include "collectors/framework/FreedMemory.h"
#include "collectors/framework/SampleWriting.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {
double now() { return platform::Clock::now(); }
}  // namespace

StatCollector::StatCollector(int64_t sampleValueCount) : storage_(sampleValueCount) {
    for (int64_t l = 0; l < kSampleLevelCount; ++l) {
        sampleindexconfig& rec = storage_.level(l);
        rec.sampleID = 1;
        rec.time = 0;
        rec.nextTime = 0;
        rec.valuesLoaded = 1;
    }
    storage_.emptyValue().empty = 0;
    session_ = static_cast<int64_t>(now());
    updaterFinishBlock_ = [](StatCollector& collector) {
        auto notify = [](StatCollector& c) { c.notifyUpdatedForMode(0); };
        if (!collector.threadedUpdating()) {
            notify(collector);
        } else {
            std::weak_ptr<StatCollector> weak = collector.weak_from_this();
            dispatch::Queue::main()->async([weak, notify] {
                if (auto c = weak.lock()) notify(*c);
            });
        }
    };
    queue_ = dispatch::Queue::createSerial(description());
    clearAllStorages();
}

StatCollector::~StatCollector() {
    for (auto& item : items_)
        if (item && item->parent() == this) item->setParent(nullptr);
}

// ---- Hooks

void StatCollector::updateStats(int64_t) { updateStats(); }
void StatCollector::updateStats() {}
bool StatCollector::threadedUpdating() const { return false; }

bool StatCollector::shouldUpdateStateForSequence(int64_t sequence) {
    if (delegates_.empty()) return true;
    for (const auto& d : delegates_)
        if (d->respondsToShouldUpdateStateForSequence() && d->collectorShouldUpdateStateForSequence(*this, sequence))
            return true;
    return false;
}

void StatCollector::addLongTermSample(const Value&) {}
StatCollector::ItemFactory StatCollector::itemClass() const { return nullptr; }

void StatCollector::cleanup() {
    stopped_ = true;
    queue_.reset();
    delegates_.clear();
}

std::string StatCollector::description() const {
    std::string type = statType();
    return "<StatCollector: " + (type.empty() ? std::string("base") : type) + ">";
}

void StatCollector::setDbTablePrefix(const std::string& p) {
    dbTablePrefix_ = p;
    dbTables_.clear();
    dbTablesItems_.clear();
}

// ---- Levels

statsample* StatCollector::storageForType(int64_t level) const { return storage_.ring(level); }

statsample StatCollector::sampleAtIndex(int64_t slot, int64_t level) const { return storage_.slot(slot, level); }

statsample StatCollector::sampleWithIdentifier(double sampleID, int64_t level) {
    return storage_.sampleWithIdentifier(sampleID, level);
}

sampleindexconfig StatCollector::sampleIndex(int64_t level) const {
    return isSampleLevel(level) ? storage_.level(level) : sampleindexconfig{};
}

sampleindexconfig* StatCollector::sampleIndexRecord(int64_t level) {
    return isSampleLevel(level) ? &storage_.level(level) : nullptr;
}

double StatCollector::idForInterval(int64_t level) const {
    return isSampleLevel(level) ? storage_.level(level).sampleID : 0;
}

void StatCollector::setID(double sampleID, int64_t level) {
    if (isSampleLevel(level)) storage_.level(level).sampleID = sampleID;
}

double StatCollector::lowestSampleForStorageType(int64_t level) const {
    if (!isSampleLevel(level)) return 0;
    double found = 0;
    if (storageType_ == 2) {
        bool any = false;
        for (const auto& item : items_) {
            if (!item || !item->storageForType(level) || !item->sampleIndex(level).valuesLoaded) continue;
            double v = item->storageForType(level)[0].sampleID;
            if (!any || v < found) found = v;
            any = true;
        }
        if (!any) return 0;
    } else {
        statsample* ring = storageForType(level);
        if (!ring) return 0;
        found = ring[0].sampleID;
    }
    return found == -1 ? 0 : found;
}

void StatCollector::clearStorageForType(int64_t level) {
    for (auto& item : items_)
        if (item) item->clearStorageForType(level);
    storage_.clearLevel(level, false);
}

void StatCollector::clearAllStorages() {
    for (int64_t l = 0; l < kSampleLevelCount; ++l) clearStorageForType(l);
}

Value StatCollector::averagesForIndex(int64_t level) const {
    if (!isSampleLevel(level)) return Value();
    const sampleindexconfig& rec = storage_.level(level);
    samplewriting::AverageWindow window;
    window.start = rec.time - rec.interval;
    window.upper = rec.historyIndex == 0 ? rec.time + 0.99 : rec.time;
    window.applyTests = window.start > 0;
    Value result = samplewriting::average(storageForType(rec.historyIndex), sampleValueCount(), window,
                                          config_["sampleKeys"]);
    result.set("time", Value(now()));
    return result;
}

Value StatCollector::historyItemForIndex(int64_t level) const { return averagesForIndex(level); }

Value StatCollector::historyItemsForIndex(int64_t level) const {
    ValueArray list;
    for (const auto& item : items_) {
        if (!item || item->temporary() || item->nohistory()) continue;
        Value h = item->historyItemForIndex(level);
        if (!h.isNull()) list.push_back(std::move(h));
    }
    ValueDictionary d;
    d["items"] = Value(std::move(list));
    d["empty"] = Value(0);
    return Value(std::move(d));
}

Value StatCollector::historySampleForIndex(int64_t level) const {
    return storageType_ == 2 ? historyItemsForIndex(level) : historyItemForIndex(level);
}

Value StatCollector::emptySampleWithIdentifier(double sampleID, double time) const {
    ValueDictionary d;
    d["sample"] = Value(sampleID);
    d["time"] = Value(time);
    d["empty"] = Value(1);
    for (const Value& key : config_["emptySampleKeys"].array()) d[key.stringValue()] = Value(0);
    return Value(std::move(d));
}

// ---- Writing into a ring

void StatCollector::addSample(const Value& sample, int64_t level) {
    statsample* ring = storageForType(level);
    if (!ring) return;
    if (storageType_ == 2) {
        for (int64_t s = kSamplesPerLevel - 1; s >= 1; --s) {
            ring[s].sampleID = ring[s - 1].sampleID;
            ring[s].time = ring[s - 1].time;
        }
        ring[0].sampleID = sample["sample"].doubleValue();
        ring[0].time = sample["time"].doubleValue();
        return;
    }
    double number = samplewriting::sampleNumber(sample, config_["addSampleIDKeys"]);
    if (number == 0) number = ring[0].sampleID + 1;
    if (number < 1 || number <= ring[0].sampleID) return;
    PushSamples(ring, sampleValueCount());
    addSampleWithSampleIDAtIndex(sample, level, number, 0);
}

void StatCollector::addSampleWithSampleID(const Value& sample, int64_t level, double sampleID) {
    statsample* ring = storageForType(level);
    if (!ring) return;
    PushSamples(ring, sampleValueCount());
    addSampleWithSampleIDAtIndex(sample, level, sampleID, 0);
}

void StatCollector::addSampleAtIndex(const Value& sample, int64_t level, int64_t slot) {
    statsample* ring = storageForType(level);
    if (!ring || slot < 0 || slot >= kSamplesPerLevel) return;
    double number = samplewriting::sampleNumber(sample, config_["addSampleIDKeys"]);
    if (number == 0) number = ring[0].sampleID + 1;
    if (number < 1 || number <= ring[0].sampleID) return;
    addSampleWithSampleIDAtIndex(sample, level, number, slot);
}

void StatCollector::addSampleWithSampleIDAtIndex(const Value& sample, int64_t level, double sampleID, int64_t slot) {
    statsample* ring = storageForType(level);
    if (!ring || slot < 0 || slot >= kSamplesPerLevel) return;
    statsample& s = ring[slot];
    samplewriting::writeValues(s, sample, config_["addSampleMap"], sampleValueCount());
    s.empty = static_cast<int32_t>(sample["empty"].intValue());
    s.sampleID = sampleID;
}

// ---- Level advance

void StatCollector::advanceLevelStep(int64_t level) {
    sampleindexconfig& rec = storage_.level(level);
    rec.sampleID += 1;
    rec.time = rec.nextTime;
    rec.nextTime += rec.interval;
    for (auto& item : items_) {
        if (!item) continue;
        item->setTime(rec.time, level);
        item->setNextTime(rec.nextTime, level);
        item->setSampleID(rec.sampleID, level);
    }
}

void StatCollector::updateHistory() {
    if (!automaticSampleUpdates_) return;
    const int64_t last = dbpathLong_.empty() ? 7 : 8;
    const double level0Time = storage_.level(0).time;
    bool commit = false;
    for (int64_t level = 1; level <= last; ++level) {
        sampleindexconfig& rec = storage_.level(level);
        if (!(level0Time >= rec.nextTime)) continue;
        while (now() > rec.nextTime) {
            advanceLevelStep(level);
            if (rec.time >= now() - kSamplesPerLevel * rec.interval) insertSampleWithIndex(level);
        }
        for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates_))
            if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, level);
        if (level == 2 || level == 8) commit = true;
    }
    if (commit && (!dbpath_.empty() || !dbpathLong_.empty())) runDatabaseQueue();
}

void StatCollector::insertSampleWithIndex(int64_t level) {
    if (level < 1 || level > 8) return;
    Value sample = historySampleForIndex(level);
    if (sample.isNull()) return;
    const sampleindexconfig& rec = storage_.level(level);
    if (sample.has("items")) {
        ValueArray& list = sample.mutableDictionary()["items"].mutableArray();
        for (Value& entry : list) entry.set("sample", Value(rec.sampleID));
    }
    sample.set("sample", Value(rec.sampleID));
    sample.set("time", Value(rec.time));
    if (level <= 7) {
        addSample(sample, level);
        if (storageType_ == 2) {
            for (const Value& entry : sample["items"].array()) {
                StatCollectorItemPtr item = itemWithKey(entry["uuid"], true);
                if (!item) continue;
                ValueDictionary d;
                d["sample"] = sample["sample"];
                d["time"] = sample["time"];
                for (const auto& [k, v] : entry.dictionary()) d[k] = v;
                item->addSample(Value(std::move(d)), level);
            }
        }
    } else {
        addLongTermSample(sample);
    }
    insertSample(sample, level);
}

void StatCollector::checkNextTimeAtIndex(int64_t level) {
    if (level < 1 || level > 8) return;
    sampleindexconfig& rec = storage_.level(level);
    if (rec.nextTime != 0) return;
    const double t = now();
    if (level <= 7) {
        rec.nextTime = std::ceil(t) + rec.interval;
    } else {
        double next = std::ceil(t / 300.0) * 300.0;
        if (next - t < 60) next += 300;
        rec.nextTime = next;
    }
    rec.time = rec.nextTime - rec.interval;
    rec.sampleID = distrustedSampleID_[level];
    // The empty row marks where the level starts; a level that goes on above stored rows
    // has its start marked by them already.
    if (distrustedSampleID_[level] == 0) insertSample(emptySampleWithIdentifier(0, rec.time), level);
    distrustedSampleID_[level] = 0;
    runDatabaseQueue();
}

void StatCollector::fillGaps() {
    for (int64_t level = 1; level <= 8; ++level) fillGapsAtIndex(level);
}

void StatCollector::fillGapsAtIndex(int64_t level) {
    if (level < 1 || level > 8) return;
    sampleindexconfig& rec = storage_.level(level);
    if (rec.time == 0) return;
    while (now() > rec.nextTime) {
        rec.sampleID += 1;
        rec.time = rec.nextTime;
        rec.nextTime += rec.interval;
        rec.fillingGap = 1;
        if (level <= 7 && rec.time < now() - kSamplesPerLevel * rec.interval) continue;
        for (auto& item : items_) {
            if (!item) continue;
            item->setTime(rec.time, level);
            item->setNextTime(rec.nextTime, level);
            item->setSampleID(rec.sampleID, level);
        }
        insertSampleWithIndex(level);
    }
}

// ---- The clock

void StatCollector::startLogging() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->startClock();
    });
}

void StatCollector::startClock() {
    clocksteps::take(clockMark_);
    for (int64_t level = 1; level <= 8; ++level) checkNextTimeAtIndex(level);
    const double t = now();
    double next = std::ceil(t);
    if (next - t < 0.1) next += 1;
    storage_.level(0).nextTime = next;
    updateSequence_ = 0;
    armTimer(next - now());
}

void StatCollector::armTimer(double delaySeconds) {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->after(delaySeconds, [weak] {
        if (auto self = weak.lock()) self->updateSamplesAndLogging();
    });
}

void StatCollector::updateSamplesAndLogging() {
    if (stopped_) return;
    noticeClockStep();
    if (!threadedUpdating()) {
        samplingStep();
        return;
    }
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::global()->async([weak] {
        if (auto self = weak.lock()) self->samplingStep();
    });
}

void StatCollector::noticeClockStep() {
    const double step = clocksteps::take(clockMark_);
    if (step != 0) wallClockStepped(step);
}

void StatCollector::wallClockStepped(double step) {
    // Whole seconds keep the levels' times on whole seconds.
    const double whole = std::round(step);
    sampleindexconfig& live = storage_.level(0);
    if (live.nextTime != 0) live.nextTime += whole;
    for (int64_t level = 1; level <= 8; ++level) {
        sampleindexconfig& rec = storage_.level(level);
        if (rec.nextTime == 0) continue;  // not scheduled yet: its first due time is taken from the clock
        if (level <= 7) {
            rec.nextTime += whole;
        } else {
            // The long-term level stays on its grid of 300 s.
            rec.nextTime = std::ceil((rec.nextTime + step) / 300.0) * 300.0;
        }
        if (rec.time != 0) rec.time = rec.nextTime - rec.interval;
        for (auto& item : items_) {
            if (!item) continue;
            item->setTime(rec.time, level);
            item->setNextTime(rec.nextTime, level);
        }
    }
}

void StatCollector::samplingStep() {
    sampleindexconfig& live = storage_.level(0);
    live.time = live.nextTime;
    if (shouldUpdateStateForSequence(updateSequence_)) {
        live.sampleID += 1;
        updateStats(updateSequence_);
    }
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->finishTick();
    });
}

void StatCollector::finishTick() {
    // A step during the sampling step: the levels follow it before they advance; the tick
    // itself is re-aimed below, as any tick that ends late or early is.
    const double scheduled = storage_.level(0).nextTime;
    noticeClockStep();
    storage_.level(0).nextTime = scheduled;
    updateHistory();
    updateSequence_ += 1;
    sampleindexconfig& live = storage_.level(0);
    live.nextTime += 1;
    double delay = live.nextTime - now();
    if (delay < 0 || delay > 2) {
        live.nextTime = std::ceil(now()) + 1;
        delay = live.nextTime - now();
    }
    armTimer(delay);
}

// ---- Delegates

void StatCollector::addDelegate(const StatCollectorDelegatePtr& delegate) {
    if (!delegate) return;
    if (std::find(delegates_.begin(), delegates_.end(), delegate) == delegates_.end()) delegates_.push_back(delegate);
}

void StatCollector::removeDelegate(const StatCollectorDelegatePtr& delegate) {
    delegates_.erase(std::remove(delegates_.begin(), delegates_.end(), delegate), delegates_.end());
}

void StatCollector::notifyUpdatedForMode(int64_t mode) {
    for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates_))
        if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, mode);
}

void StatCollector::itemLoadedValues(StatCollectorItem& item) {
    for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates_))
        if (d->respondsToLoadedValueForItem()) d->collectorLoadedValueForItem(*this, item);
}

// ---- Items

StatCollectorItemPtr StatCollector::itemWithKey(const Value& key, bool temporary) {
    std::string k = key.isString() ? key.string() : key.stringValue();
    return itemWithKey(k, temporary);
}

StatCollectorItemPtr StatCollector::itemWithKey(const std::string& key, bool temporary) {
    for (const auto& item : items_) {
        if (!item) continue;
        if (item->temporary() && !temporary) continue;
        if (item->key() == key) return item;
    }
    if (!temporary) return nullptr;
    StatCollectorItemPtr item = newItemWithKey(key);
    if (item) item->setTemporary(true);
    return item;
}

StatCollectorItemPtr StatCollector::newItemWithKey(const std::string& key) {
    for (const auto& item : items_) {
        if (item && item->key() == key) {
            item->setTemporary(false);
            return item;
        }
    }
    ItemFactory factory = itemClass();
    if (!factory) return nullptr;
    StatCollectorItemPtr item = factory();
    if (!item) return nullptr;
    for (const auto& [k, v] : config_.dictionary()) item->config().set(k, v);
    item->setKey(key);
    item->setTemporary(false);
    item->setParent(this);
    items_.push_back(item);
    return item;
}

void StatCollector::sort() {
    std::stable_sort(items_.begin(), items_.end(),
                     [](const StatCollectorItemPtr& a, const StatCollectorItemPtr& b) { return a->sort(*b) < 0; });
}

bool StatCollector::removeOldItems() {
    auto before = items_.size();
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [](const StatCollectorItemPtr& i) { return !i || !i->exists(); }),
                 items_.end());
    return items_.size() != before;
}

size_t StatCollector::removeItemsAbsentFor(double seconds) {
    const double t = platform::Clock::sinceBoot();
    size_t removed = 0;
    std::erase_if(items_, [&](const StatCollectorItemPtr& item) {
        if (!item) return true;
        if (item->exists()) {
            item->setAbsentSince(0);
            return false;
        }
        if (item->absentSince() == 0) {
            item->setAbsentSince(t);
            return false;
        }
        if (t - item->absentSince() <= seconds) return false;
        if (activeItem_ == item) activeItem_.reset();
        item->cleanup();
        if (item->parent() == this) item->setParent(nullptr);
        ++removed;
        return true;
    });
    if (removed) freedmemory::releaseSoon();
    return removed;
}

namespace {
std::vector<std::string> splitBar(const std::string& s) {
    std::vector<std::string> out;
    if (s.empty()) return out;
    size_t start = 0;
    while (true) {
        size_t bar = s.find('|', start);
        out.push_back(s.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return out;
}
std::string joinBar(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '|';
        out += parts[i];
    }
    return out;
}
}  // namespace

void StatCollector::addSelectionKeyItem(const std::string& key) {
    auto parts = splitBar(selectionKey_);
    if (std::find(parts.begin(), parts.end(), key) != parts.end()) return;
    parts.push_back(key);
    selectionKey_ = joinBar(parts);
}

void StatCollector::removeSelectionKeyItem(const std::string& key) {
    auto parts = splitBar(selectionKey_);
    parts.erase(std::remove(parts.begin(), parts.end(), key), parts.end());
    selectionKey_ = joinBar(parts);
}

double StatCollector::lastTimeForType(int64_t level) const {
    statsample* ring = storageForType(level);
    if (!ring || ring[0].sampleID == 0) return 0;
    return ring[0].time;
}

double StatCollector::lastIDForType(int64_t level) const {
    statsample* ring = storageForType(level);
    return ring ? ring[0].sampleID : 0;
}

bool StatCollector::indexesBelowValue(const std::vector<int64_t>& positions, double threshold, double seconds) const {
    return samplewriting::liveSumsPass(storageForType(0), sampleValueCount(), positions, threshold,
                                      platform::Clock::now() - seconds, true);
}

bool StatCollector::indexesAboveValue(const std::vector<int64_t>& positions, double threshold, double seconds) const {
    return samplewriting::liveSumsPass(storageForType(0), sampleValueCount(), positions, threshold,
                                      platform::Clock::now() - seconds, false);
}

}  // namespace telvo
