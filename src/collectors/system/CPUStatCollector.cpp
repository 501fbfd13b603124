// The CPU collector's configuration and its stat element.
#include "collectors/system/CPUStatCollector.h"

#include "collectors/framework/ConfigMaps.h"

namespace telvo {

using namespace configmaps;

CPUStatCollector::CPUStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("cpu");
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    // "p" is the same value as "system".
    c.set("addSampleMap", indexMap({{"u", 0}, {"user", 0}, {"s", 1}, {"p", 1}, {"system", 1}, {"n", 2},
                                    {"nice", 2}, {"io", 3}, {"ent", 4}, {"phys", 5}}));
    c.set("sampleKeys", indexMap({{"user", 0}, {"system", 1}, {"nice", 2}}));
    c.set("emptySampleKeys", names({"user", "system", "nice"}));
    c.set("xmlSampleKeys", indexMap({{"u", 0}, {"s", 1}, {"n", 2}, {"ent", 4}, {"phys", 5}}));
    c.set("sqlInsert", Value("insert into %@ (empty, sample, time, user, system, nice) values (?, ?, ?, ?, ?, ?)"));
    c.set("sqlInsertKeys", names({"empty", "sample", "time", "user", "system", "nice"}));
    c.set("sqlCreate", Value("create table %@ (sample double PRIMARY KEY NOT NULL, time double NOT NULL DEFAULT 0, "
                             "empty integer NOT NULL DEFAULT 0, user double NOT NULL DEFAULT 0, system double NOT "
                             "NULL DEFAULT 0, nice double NOT NULL DEFAULT 0)"));
    c.set("sqlCreateLong", Value("create table %@ (sample double PRIMARY KEY NOT NULL, time double, empty integer, "
                                 "user double, system double, nice double)"));
}

void CPUStatCollector::xmlPrepareStatNode(StatNode& node) {
    StatCollector::xmlPrepareStatNode(node);
    addKey("tasks", Value(std::to_string(taskCount_)), node);
    addKey("threads", Value(std::to_string(threadCount_)), node);
}

}  // namespace telvo
