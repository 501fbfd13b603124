// The load collector's configuration.
#include "collectors/system/LoadStatCollector.h"

#include "collectors/framework/ConfigMaps.h"

namespace telvo {

using namespace configmaps;

LoadStatCollector::LoadStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("loadavg");
    const char* create =
        "create table %@ (sample double PRIMARY KEY NOT NULL, time double NOT NULL DEFAULT 0, empty integer NOT "
        "NULL DEFAULT 0, one double NOT NULL DEFAULT 0, five double NOT NULL DEFAULT 0, fifteen double NOT NULL "
        "DEFAULT 0)";
    Value& c = config();
    c.set("updatePeaks", NSInt(1));
    c.set("addSampleIDKeys", names({"sample", "id"}));
    // "fv" and "ff" are older names of "five" and "fifteen".
    c.set("addSampleMap", indexMap({{"one", 0}, {"fv", 1}, {"ff", 2}, {"five", 1}, {"fifteen", 2}}));
    c.set("sampleKeys", indexMap({{"one", 0}, {"five", 1}, {"fifteen", 2}}));
    c.set("emptySampleKeys", names({"one", "five", "fifteen"}));
    c.set("xmlSampleKeys", indexMap({{"one", 0}, {"five", 1}, {"fifteen", 2}}));
    c.set("sqlInsert", Value("insert into %@ (empty, sample, time, one, five, fifteen) values (?, ?, ?, ?, ?, ?)"));
    c.set("sqlInsertKeys", names({"empty", "sample", "time", "one", "five", "fifteen"}));
    c.set("sqlCreate", Value(create));
    c.set("sqlCreateLong", Value(create));
}

}  // namespace telvo
