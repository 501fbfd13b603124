// The battery collector's configuration and change tables.
#include "collectors/system/BatteryStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"
#include "collectors/framework/HistoryAccess.h"
#include "collectors/system/BatteryStatCollectorItem.h"

namespace telvo {

using namespace configmaps;

BatteryStatCollector::BatteryStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("battery");
    setStorageType(storageTypeValue());
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap", indexMap({{"percentage", 0}, {"state", 1}, {"source", 2}}));
    c.set("sampleKeys", indexMap({{"percentage", 0}, {"state", 1}, {"source", 2}}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    historytables::setSampleInsert(c);
    historytables::setItemInsert(c, {"uuid", "percentage", "state", "source"});
    c.set("sqlCreate", Value(historytables::itemTable(
                           "percentage double NOT NULL DEFAULT 0, source integer NOT NULL DEFAULT 0, state integer NOT "
                           "NULL DEFAULT 0")));
    c.set("sqlCreateID", Value(historytables::sampleTable()));
    c.set("sqlCreateLong", Value(historytables::longItemTable(
                               "percentage double NOT NULL DEFAULT 0, source integer NOT NULL DEFAULT 0, state "
                               "integer NOT NULL DEFAULT 0",
                               false)));
    c.set("sqlCreateIDLong", Value(historytables::sampleTable("", false)));
    c.set("itemAttributeKeys", names({"uuid"}));
    c.set("xmlNoSamples", Value(true));
}

StatCollector::ItemFactory BatteryStatCollector::itemClass() const {
    return [] { return std::make_shared<BatteryStatCollectorItem>(); };
}

bool BatteryStatCollector::shouldUpdateStateForSequence(int64_t sequence) { return sequence % 6 == 0; }

bool BatteryStatCollector::migrateDatabase(bool flag) {
    static const char* const kTables[][2] = {
        {"battery_cycles", "create table battery_cycles (time double NOT NULL, uuid varchar(100) NOT NULL, cycles int NOT NULL)"},
        {"battery_sources", "create table battery_sources (time double NOT NULL, uuid varchar(100) NOT NULL, source int NOT NULL)"},
        {"battery_health", "create table battery_health (time double NOT NULL, uuid varchar(100) NOT NULL, health int NOT NULL)"},
    };
    for (const auto& table : kTables)
        if (!historyaccess::tableExists(dbpath(), table[0])) historyaccess::execute(dbpath(), table[1]);
    return flag;
}

Value BatteryStatCollector::xmlSampleFromSample(const statsample& sample, int64_t) const {
    return Value(ValueDictionary{{"t", Value(Value(sample.time).description())}});
}

}  // namespace telvo
