#include "collectors/framework/TestCollectors.h"

namespace telvo::fwtest {

std::string valuesCreateSQL(int values) {
    std::string sql = "CREATE TABLE %@ (sample INTEGER PRIMARY KEY, time REAL, empty INTEGER";
    for (int i = 0; i < values; ++i) sql += ", " + TestValuesCollector::valueName(i) + " REAL";
    return sql + ")";
}

TestValuesCollector::TestValuesCollector(int values) : StatCollector(values), valueCount_(values) {
    setDbTablePrefix("testvalues");
    setStorageType(1);
    ValueDictionary map;
    ValueArray names;
    std::string insert = "INSERT INTO %@ (sample, time, empty";
    std::string marks = "?, ?, ?";
    ValueArray insertKeys{Value("sample"), Value("time"), Value("empty")};
    for (int i = 0; i < values; ++i) {
        map[valueName(i)] = NSInt(i);
        names.push_back(Value(valueName(i)));
        insert += ", " + valueName(i);
        marks += ", ?";
        insertKeys.push_back(Value(valueName(i)));
    }
    insert += ") VALUES (" + marks + ")";
    Value& c = config();
    c.set("sampleKeys", Value(map));
    c.set("addSampleMap", Value(map));
    c.set("xmlSampleKeys", Value(map));
    c.set("emptySampleKeys", Value(names));
    c.set("addSampleIDKeys", Value(ValueArray{Value("sample")}));
    c.set("sqlCreate", Value(valuesCreateSQL(values)));
    c.set("sqlCreateLong", Value(valuesCreateSQL(values)));
    c.set("sqlInsert", Value(insert));
    c.set("sqlInsertKeys", Value(insertKeys));
}

void TestValuesCollector::updateStats() {
    statsample* ring = storageForType(0);
    PushSamples(ring, sampleValueCount());
    const sampleindexconfig live = sampleIndex(0);
    for (int i = 0; i < valueCount_; ++i) ring[0].values[i] = valuesSampleValue(live.time, i);
    ring[0].sampleID = live.sampleID;
    ring[0].time = live.time;
    ring[0].empty = 0;
    ++samplesTaken;
    sampleTimes.push_back(live.time);
}

Value TestDeviceItem::xmlStorageItem() const {
    ValueDictionary d;
    d["uuid"] = Value(key());
    d["name"] = Value("device " + key());
    return Value(std::move(d));
}

TestDevicesCollector::TestDevicesCollector(std::vector<std::string> keys)
    : StatCollector(0), liveKeys(std::move(keys)) {
    setDbTablePrefix("testdevices");
    setStorageType(2);
    ValueDictionary map{{"rx", NSInt(0)}, {"tx", NSInt(1)}};
    Value& c = config();
    c.set("sampleKeys", Value(map));
    c.set("addSampleMap", Value(map));
    c.set("xmlSampleKeys", Value(map));
    c.set("xmlSampleDivide", NSDouble(1024));
    c.set("xmlSampleDivideProtocols", Value(ValueArray{NSInt(0), NSInt(1), NSInt(2)}));
    c.set("xmlSampleDivideExcludeKeys", Value(ValueArray{Value("rx")}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    c.set("addSampleIDKeys", Value(ValueArray{Value("sample")}));
    c.set("sqlCreateID", Value("CREATE TABLE %@ (sample INTEGER PRIMARY KEY, time REAL, empty INTEGER)"));
    c.set("sqlCreateIDLong", Value("CREATE TABLE %@ (sample INTEGER PRIMARY KEY, time REAL, empty INTEGER)"));
    const char* items =
        "CREATE TABLE %@ (id INTEGER PRIMARY KEY AUTOINCREMENT, sample INTEGER, time REAL, uuid TEXT, empty INTEGER, "
        "rx REAL, tx REAL)";
    c.set("sqlCreate", Value(items));
    c.set("sqlCreateLong", Value(items));
    c.set("sqlInsert", Value("INSERT INTO %@ (sample, time, empty) VALUES (?, ?, ?)"));
    c.set("sqlInsertKeys", Value(ValueArray{Value("sample"), Value("time"), Value("empty")}));
    c.set("sqlInsertItem", Value("INSERT INTO %@ (sample, time, uuid, empty, rx, tx) VALUES (?, ?, ?, ?, ?, ?)"));
    c.set("sqlInsertItemKeys", Value(ValueArray{Value("sample"), Value("time"), Value("uuid"), Value("empty"),
                                                Value("rx"), Value("tx")}));
}

void TestDevicesCollector::updateStats() {
    const sampleindexconfig live = sampleIndex(0);
    for (const auto& key : liveKeys) {
        StatCollectorItemPtr item = newItemWithKey(key);
        if (!item) continue;
        item->setExists(true);
        ValueDictionary d;
        d["sample"] = Value(live.sampleID);
        d["time"] = Value(live.time);
        d["rx"] = Value(deviceRx(live.time, key));
        d["tx"] = Value(deviceTx(live.time));
        item->addSample(Value(std::move(d)), 0);
    }
}

}  // namespace telvo::fwtest
