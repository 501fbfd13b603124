// Sampling of the power sources.
#include "collectors/system/BatteryStatCollectorMac.h"

#include <cmath>
#include <optional>

#include "collectors/framework/HistoryAccess.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/system/LiveSample.h"
#include "history/HistoryDatabaseController.h"
#include "platform/registry/Registry.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

constexpr double kBluetoothInterval = 10.0;

std::string withoutLeadingBlank(const std::string& s) { return !s.empty() && s[0] == ' ' ? s.substr(1) : s; }

bool differs(float a, float b) { return std::isnan(a) || std::isnan(b) || a != b; }
bool cyclesDiffer(int64_t a, int64_t b) { return a != b; }

constexpr const char* kInsertCycles = "insert into battery_cycles (time, uuid, cycles) values (?, ?, ?)";
constexpr const char* kInsertHealth = "insert into battery_health (time, uuid, health) values (?, ?, ?)";

// One value of a new item once its last stored one has come: with no reading taken meanwhile
// the item takes the stored value; a reading meanwhile is kept and needs a change row (the
// answer) when nothing was stored or it differs from what was.
template <typename T>
bool takeStored(const std::optional<T>& stored, bool readMeanwhile, T& current, bool (*differ)(T, T)) {
    if (!readMeanwhile) {
        if (stored) current = *stored;
        return false;
    }
    return !stored || differ(current, *stored);
}

}  // namespace

std::shared_ptr<BatteryStatCollectorMac> BatteryStatCollectorMac::sharedBatteryCollector() {
    return SharedCollector<BatteryStatCollectorMac>::get([] {
        auto c = std::make_shared<BatteryStatCollectorMac>();
        c->setup();
        return c;
    });
}

void BatteryStatCollectorMac::cleanupShared() { SharedCollector<BatteryStatCollectorMac>::drop(); }

void BatteryStatCollectorMac::setup() { setSession(int64_t(std::floor(platform::Clock::now()))); }

StatCollector::ItemFactory BatteryStatCollectorMac::itemClass() const {
    const bool external = externalSourceTime;
    return [external] {
        auto item = std::make_shared<BatteryStatCollectorItemMac>();
        item->externalSourceTime = external;
        return item;
    };
}

std::shared_ptr<BatteryStatCollectorItemMac> BatteryStatCollectorMac::batteryItem(const std::string& key) {
    return std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(itemWithKey(key));
}

void BatteryStatCollectorMac::readPowerSources() { snapshot_ = powerSources_.read(); }

ValueArray BatteryStatCollectorMac::batteriesIOPS() { return snapshot_.descriptions; }

ValueArray BatteryStatCollectorMac::batteriesSmart() {
    ValueArray out;
    auto registry = registry::Registry::shared();
    for (const registry::EntryRef& e : registry->matchingServices(registry::Registry::nameMatching("AppleSmartBattery"))) {
        Value p = e->properties();
        if (p.isDictionary() && p.count() > 0) out.push_back(std::move(p));
    }
    if (!out.empty()) return out;
    return snapshot_.smartBatteries;
}

void BatteryStatCollectorMac::writeChange(const char* sql, const std::string& key, const Value& value) {
    if (dbpath().empty()) return;
    // The row goes to the file's own queue; a later read of the tables runs after it there.
    const std::string text = sql;
    const ValueArray args{Value(platform::Clock::now()), Value(key), value};
    databaseItemWithPath(dbpath())->queryDatabaseAsync([text, args](const FMDatabasePtr& db) {
        if (db) db->executeUpdate(text, args);
    });
}

void BatteryStatCollectorMac::loadStoredValues(const std::shared_ptr<BatteryStatCollectorItemMac>& item) {
    if (dbpath().empty()) return;
    // Both reads run on the local file's queue, one after the other; the second answer
    // finishes the load on the main queue.
    struct Stored {
        std::optional<int64_t> cycles;
        std::optional<float> health;
    };
    auto stored = std::make_shared<Stored>();
    std::weak_ptr<StatCollector> weakCollector = weak_from_this();
    std::weak_ptr<BatteryStatCollectorItemMac> weakItem = item;
    const ValueArray key{Value(item->key())};
    const bool asked = historyaccess::queryAsync(
        dbpath(), "SELECT * FROM battery_cycles WHERE uuid = ? ORDER BY time DESC LIMIT 1", key,
        [stored](historyaccess::Rows rows) {
            if (!rows.empty()) stored->cycles = rows.front()["cycles"].intValue();
        });
    if (!asked) return;
    item->storedValuesPending = true;
    historyaccess::queryAsync(
        dbpath(), "SELECT * FROM battery_health WHERE uuid = ? ORDER BY time DESC LIMIT 1", key,
        [stored, weakCollector, weakItem](historyaccess::Rows rows) {
            if (!rows.empty()) stored->health = float(rows.front()["health"].doubleValue());
            auto self = std::static_pointer_cast<BatteryStatCollectorMac>(weakCollector.lock());
            auto it = weakItem.lock();
            if (!self || !it) return;
            it->storedValuesPending = false;
            if (takeStored(stored->cycles, it->cyclesRead, it->cycles, cyclesDiffer))
                self->writeChange(kInsertCycles, it->key(), Value(it->cycles));
            if (takeStored(stored->health, it->healthRead, it->health, differs))
                self->writeChange(kInsertHealth, it->key(), Value(double(it->health)));
            it->cyclesRead = it->healthRead = false;
        });
}

void BatteryStatCollectorMac::updateStats() {
    // 1. The collector's own level 0 keeps only the sample numbers.
    statsample* ring = storageForType(0);
    const double sampleID = sampleIndex(0).sampleID;
    if (ring) {
        for (int64_t i = kSamplesPerLevel - 1; i > 0; --i) ring[i].sampleID = ring[i - 1].sampleID;
        ring[0].sampleID = sampleID;
    }
    // 2, 3.
    updateAdapter();
    for (const auto& item : items()) item->setExists(false);

    // 4. Power sources.
    readPowerSources();
    const ValueArray smart = batteriesSmart();
    for (const Value& d : batteriesIOPS()) {
        const bool internal = d["Transport Type"].stringValue() == "Internal";
        std::string key;
        if (d.has("Hardware Serial Number")) key = d["Hardware Serial Number"].stringValue();
        else if (d.has("Power Source ID")) key = d["Power Source ID"].stringValue();
        else if (d.has("Name")) key = withoutLeadingBlank(d["Name"].stringValue());
        else continue;

        auto item = batteryItem(key);
        if (!item) {
            item = std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(newItemWithKey(key));
            if (!item) continue;
            item->externalSourceTime = externalSourceTime;
            item->type = internal ? 0 : 1;
            loadStoredValues(item);
        }
        item->setExists(true);
        const int64_t cycles = item->cycles, source = item->source;
        const float health = item->health;
        item->processIOPS(d);
        if (internal && smart.size() == 1) item->processSmart(smart[0]);
        if (item->storedValuesPending) {
            item->cyclesRead = item->cyclesRead || item->cycles != cycles;
            item->healthRead = item->healthRead || differs(item->health, health);
        } else {
            if (item->cycles != cycles)
                writeChange(kInsertCycles, key, Value(item->cycles));
            if (differs(item->health, health))
                writeChange(kInsertHealth, key, Value(double(item->health)));
        }
        if (item->source != source)
            writeChange("insert into battery_sources (time, uuid, source) values (?, ?, ?)", key, Value(item->source));
    }

    // 5. Peripherals, at most once in ten seconds; they stay between readings.
    if (!disableAllBluetooth) {
        const double now = platform::Clock::now();
        // A clock set back behind the last reading reads at once, rather than keeping the
        // peripherals' old values until the clock has caught up again.
        if (now > lastBluetoothTime + kBluetoothInterval || now < lastBluetoothTime) {
            lastBluetoothTime = now;
            updateBluetooth();
        } else {
            for (const auto& item : items()) {
                auto battery = std::dynamic_pointer_cast<BatteryStatCollectorItem>(item);
                if (battery && battery->type == 2) battery->setExists(true);
            }
        }
    }

    // 6. Samples of the items that exist; the others are gone.
    auto& list = mutableItems();
    for (size_t i = 0; i < list.size();) {
        if (list[i]->exists()) {
            if (auto battery = std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(list[i]))
                battery->updateWithIdentifier(sampleID);
            ++i;
        } else {
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    // 7.
    livesample::finish(*this);
}

std::shared_ptr<BatteryStatCollectorItemMac> BatteryStatCollectorMac::internalBattery() const {
    for (const auto& item : items()) {
        auto b = std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(item);
        if (b && !b->temporary() && b->type == 0) return b;
    }
    return nullptr;
}

bool BatteryStatCollectorMac::hasInteralBattery() const {
    for (const auto& item : items()) {
        auto b = std::dynamic_pointer_cast<BatteryStatCollectorItem>(item);
        if (b && b->type == 0) return true;
    }
    return false;
}

std::shared_ptr<BatteryStatCollectorItemMac> BatteryStatCollectorMac::primaryBattery() const {
    for (const auto& item : items()) {
        auto b = std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(item);
        if (b && b->type == 0) return b;
    }
    return items().empty() ? nullptr : std::dynamic_pointer_cast<BatteryStatCollectorItemMac>(items().front());
}

}  // namespace telvo
