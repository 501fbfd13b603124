#include "collectors/storage/DiskActivityStatCollector.h"

#include "collectors/framework/ConfigMaps.h"

namespace telvo {

using namespace configmaps;

DiskActivityStatCollector::DiskActivityStatCollector() : StatCollector(0) {
    setDbTablePrefix("diskactivity");
    setStorageType(2);
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap", indexMap({{"read", 0}, {"write", 1}, {"readIOPS", 2}, {"writeIOPS", 3}, {"r", 0}, {"w", 1},
                                    {"rIOPS", 2}, {"wIOPS", 3}, {"read_raw", 4}, {"write_raw", 5},
                                    {"readiops_raw", 6}, {"writeiops_raw", 7}}));
    c.set("sampleKeys", indexMap({{"r", 0}, {"w", 1}, {"rIOPS", 2}, {"wIOPS", 3}}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    c.set("xmlSampleKeys", indexMap({{"r", 0}, {"w", 1}, {"rIOPS", 2}, {"wIOPS", 3}}));
    c.set("sqlInsert", Value("insert into %@ (empty, sample, time) values (?, ?, ?)"));
    c.set("sqlInsertKeys", names({"empty", "sample", "time"}));
    c.set("sqlInsertItem",
          Value("insert into %@ (sample, time, read, write, readIOPS, writeIOPS, uuid) values (?, ?, ?, ?, ?, ?, ?)"));
    c.set("sqlInsertItemKeys", names({"sample", "time", "r", "w", "rIOPS", "wIOPS", "uuid"}));
    c.set("sqlCreate", Value("create table %@ (sample double NOT NULL, time double NOT NULL DEFAULT 0, uuid "
                             "varchar(100) NOT NULL, read double NOT NULL DEFAULT 0, write double NOT NULL DEFAULT 0, "
                             "readIOPS double NOT NULL DEFAULT 0, writeIOPS double NOT NULL DEFAULT 0)"));
    const char* idTable =
        "create table %@ (sample double PRIMARY KEY NOT NULL, time double NOT NULL DEFAULT 0, empty integer NOT NULL "
        "DEFAULT 0)";
    c.set("sqlCreateID", Value(idTable));
    c.set("sqlCreateIDLong", Value(idTable));
    c.set("sqlCreateLong", Value("create table %@ (sample double, time double NOT NULL DEFAULT 0, empty integer NOT "
                                 "NULL DEFAULT 0, uuid varchar(100), read double NOT NULL DEFAULT 0, write double NOT "
                                 "NULL DEFAULT 0, readIOPS double NOT NULL DEFAULT 0, writeIOPS double NOT NULL "
                                 "DEFAULT 0)"));
    c.set("itemAttributeKeys", names({"uuid"}));
}

}  // namespace telvo
