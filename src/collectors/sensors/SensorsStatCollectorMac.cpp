#include "collectors/sensors/SensorsStatCollectorMac.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "collectors/framework/HistoryAccess.h"
#include "collectors/framework/SharedCollector.h"
#include "foundation/ServerLog.h"
#include "platform/values/Format.h"
#include "platforms/PlatformController.h"
#include "sensors/SMCValueDecoder.h"
#include "sensors/SensorSMCController.h"

namespace telvo {
namespace {

const char* const kCreateLimits =
    "create table sensor_limits (uuid varchar(100) NOT NULL, low double NOT NULL DEFAULT 0, high double NOT NULL "
    "DEFAULT 0)";

int64_t typeForKey(const std::string& key) {
    switch (std::tolower(static_cast<unsigned char>(key.empty() ? '\0' : key[0]))) {
    case 't': return 0;
    case 'v': return 3;
    case 'p': return 5;
    case 'i': return 4;
    case 'a': return 7;
    case 'c': return 8;
    case 'm': return 9;
    default: return 0;
    }
}

// A count read from the SMC as an integer from 0 to `most` (NaN and negatives give 0).
int clampedCount(double value, int most, const char* what) {
    if (!(value > 0)) return 0;
    if (value > most) {
        ServerLog("SMC %s reads %.0f; using %d", what, value, most);
        return most;
    }
    return static_cast<int>(value);
}

// Bytes of a fan identifier above the blank, as Latin-1 characters in UTF-8.
std::string fanIdentifier(const SMCResultData& data) {
    std::string text;
    const uint32_t size = std::min<uint32_t>(data.dataSize, sizeof data.bytes);
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t b = data.bytes[i];
        if (b < 33) continue;
        if (b < 0x80) {
            text += char(b);
        } else {
            text += char(0xC0 | (b >> 6));
            text += char(0x80 | (b & 0x3F));
        }
    }
    return text;
}

}  // namespace

std::shared_ptr<SensorsStatCollectorMac> SensorsStatCollectorMac::sharedSensorCollector() {
    return SharedCollector<SensorsStatCollectorMac>::get([] {
        auto c = std::make_shared<SensorsStatCollectorMac>();
        c->setup();
        return c;
    });
}

void SensorsStatCollectorMac::cleanupShared() { SharedCollector<SensorsStatCollectorMac>::drop(); }

SensorsStatCollectorMac::SensorsStatCollectorMac() = default;

void SensorsStatCollectorMac::setup() {
    const smc::SMCStatus status = SensorSMCController::sharedSMC().open();
    if (status == smc::kSMCReturnNotFound) ServerLog("no SMC found: sensors and fans are not available");
    else if (status != smc::kSMCReturnSuccess && status != smc::kSMCReturnError)
        ServerLog("could not open the SMC (%d): sensors and fans are not available", int(status));
}

StatCollector::ItemFactory SensorsStatCollectorMac::itemClass() const {
    return [] { return std::make_shared<SensorStatCollectorItemMac>(); };
}

bool SensorsStatCollectorMac::migrateDatabase(bool flag) {
    if (!dbpath().empty() && !historyaccess::tableExists(dbpath(), "sensor_limits")) {
        historyaccess::execute(dbpath(), kCreateLimits);
        flag = true;
    }
    return StatCollector::migrateDatabase(flag);
}

std::shared_ptr<SensorStatCollectorItemMac> SensorsStatCollectorMac::makeItem(const std::string& key) {
    auto item = std::dynamic_pointer_cast<SensorStatCollectorItemMac>(newItemWithKey(key));
    if (!item) return nullptr;
    item->loadAlternateKey();
    return item;
}

bool SensorsStatCollectorMac::isKeyValid(const std::string& key) {
    const float value = valueForSensorKey(key);
    if (key.rfind("TG", 0) == 0) return true;
    return value != 254.0f && value != -1.0f;
}

float SensorsStatCollectorMac::valueForSensor(const SensorStatCollectorItem& item) {
    const Value& config = item.sensorConfig();
    const Value& multiply = config["multiply"];
    if (config.has("multiply") && config["type"].stringValue() == "watts" && multiply.count() == 2)
        return SensorStatCollectorItemMac::readingFor(item.key(), config);
    return valueForSensorKey(item.key());
}

void SensorsStatCollectorMac::loadSensors() {
    loadElectric();
    loadFans();
    loadIntelSensors();
    const std::vector<std::string> defaults = PlatformController::currentPlatform()->defaultSensorKeys();
    for (const auto& item : items())
        if (std::find(defaults.begin(), defaults.end(), item->key()) != defaults.end())
            std::static_pointer_cast<SensorStatCollectorItem>(item)->setDefaultSensor(true);
    sort();
    const double sampleID = sampleIndex(0).sampleID;
    for (const auto& item : items()) {
        auto sensor = std::static_pointer_cast<SensorStatCollectorItem>(item);
        sensor->addValue(sensor->value(), sampleID);
    }
}

void SensorsStatCollectorMac::loadElectric() {
    const ValueArray table = PlatformController::currentPlatform()->supportedSensors();
    for (const Value& entry : table) {
        const std::string key = entry["key"].stringValue();
        if (key.size() != 4 || key[0] == 'F') continue;
        if (entry.has("multiply")) {
            bool valid = true;
            for (const Value& k : entry["multiply"].array()) valid = valid && isKeyValid(k.stringValue());
            if (!valid) continue;
        } else if (!isKeyValid(key)) {
            continue;
        }
        if (sensorWithKey(key)) continue;
        auto item = makeItem(key);
        if (!item) continue;
        item->setName(entry["name"].stringValue());
        item->setType(typeForKey(key));
        item->setSensorConfig(entry);
        item->setIndex(static_cast<int64_t>(items().size()));
        item->setValue(valueForSensor(*item));
        const float high = static_cast<float>(entry["high"].doubleValue());
        if (high > 0) {
            item->setLow(static_cast<float>(entry["low"].doubleValue()));
            item->setHigh(high);
            item->setHasFixedLimits(true);
        }
        loadSeenLimitsForSensor(*item);
        item->updatePercentage();
    }
}

void SensorsStatCollectorMac::loadFans() {
    const int count = clampedCount(valueForSensorKey("FNum"), kMaximumFans, "fan count");
    fanControlSupported_ = false;
    const ValueArray table = PlatformController::currentPlatform()->supportedSensors();
    if (count <= 0) return;
    int made = 0;
    for (int i = 0; i < count; ++i) {
        const std::string speedKey = format("F%XAc", i);
        SMCResultData idData;
        SensorSMCController::sharedSMC().dataForKey(format("F%XID", i), idData);
        const std::string identifier = fanIdentifier(idData);
        if (identifier.empty()) continue;
        auto item = makeItem(speedKey);
        if (!item) continue;
        item->setName(PlatformController::currentPlatform()->nameForFan(identifier));
        item->setType(2);
        item->setIndex(static_cast<int64_t>(items().size()));
        item->setValue(valueForSensorKey(speedKey));
        item->loadMinimumValue();
        for (const Value& entry : table) {
            const std::string key = entry["key"].stringValue();
            if (key != speedKey && key != identifier) continue;
            item->setLow(static_cast<float>(entry["low"].doubleValue()));
            item->setHigh(static_cast<float>(entry["high"].doubleValue()));
            item->setName(entry["name"].stringValue());
            item->setHasFixedLimits(true);
            item->setLowestRecordedValue(item->low());
            item->setHighestRecordedValue(item->high());
        }
        item->loadMaximumValue();
        item->updatePercentage();
        ++made;
    }
    if (made > 0) fanControlSupported_ = true;
}

void SensorsStatCollectorMac::loadSeenLimitsForSensor(SensorStatCollectorItem& item) {
    const std::string& path = dbpath();
    if (path.empty()) return;
    const ValueArray key{Value(item.key())};
    historyaccess::Rows rows = historyaccess::query(path, "SELECT * FROM sensor_limits WHERE uuid = ?", key);
    if (!rows.empty()) {
        const float low = static_cast<float>(rows.front()["low"].doubleValue());
        item.setLowestRecordedValue(low == 0 ? -1 : low);
        item.setHighestRecordedValue(static_cast<float>(rows.front()["high"].doubleValue()));
        return;
    }
    float highest = 0;
    for (const char* table : {"hour_sensorhistory", "day_sensorhistory", "week_sensorhistory"}) {
        historyaccess::Rows max =
            historyaccess::query(path, format("SELECT max(value) FROM `%s` where uuid = ?", table), key);
        if (max.empty()) continue;
        const Value& v = max.front()["max(value)"];
        if (v.isNumber() && float(v.doubleValue()) > highest) highest = float(v.doubleValue());
    }
    item.setHighestRecordedValue(highest);
    historyaccess::execute(path, "insert into sensor_limits (uuid, high) values (?, ?)",
                           ValueArray{Value(item.key()), Value(double(highest))});
}

void SensorsStatCollectorMac::startLogging() {
    StatCollector::startLogging();
    startIntelSensors();
}

void SensorsStatCollectorMac::updateStats(int64_t sequence) {
    const double sampleID = sampleIndex(0).sampleID;
    if (statsample* ring = storageForType(0)) {
        for (int64_t i = kSamplesPerLevel - 1; i > 0; --i) ring[i].sampleID = ring[i - 1].sampleID;
        ring[0].sampleID = sampleID;
    }
    if (updaterBlock()) {
        updaterBlock()(*this, sequence, sampleID);
        return;
    }
    for (const auto& base : items()) {
        auto item = std::dynamic_pointer_cast<SensorStatCollectorItemMac>(base);
        if (!item || item->temporary() || item->intelFrequencySensor()) continue;
        if (item->type() == 1) item->updatePercentage();
        else item->updateValue();
        item->addValue(item->value(), sampleID);
    }
    for (const auto& base : items()) {
        auto item = std::static_pointer_cast<SensorStatCollectorItem>(base);
        if (!item->recordedValueChanged() || dbpath().empty()) continue;
        historyaccess::addWrite(dbpath(), "UPDATE %@ SET low = ?, high = ? WHERE uuid = ?", "sensor_limits",
                                ValueArray{Value(double(item->lowestRecordedValue())),
                                           Value(double(item->highestRecordedValue())), Value(item->key())});
    }
    if (updaterFinishBlock()) updaterFinishBlock()(*this);
}

}  // namespace telvo
