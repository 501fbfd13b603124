// The CPU collector's configuration and its stat element.
#include "collectors/system/CPUStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"

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
    historytables::setSampleInsert(c, {"user", "system", "nice"});
    c.set("sqlCreate", Value(historytables::sampleTable("user double NOT NULL DEFAULT 0, system double NOT NULL DEFAULT 0, nice double NOT NULL DEFAULT 0")));
    c.set("sqlCreateLong", Value(historytables::sampleTable("user double, system double, nice double", false)));
}

void CPUStatCollector::xmlPrepareStatNode(StatNode& node) {
    StatCollector::xmlPrepareStatNode(node);
    addKey("tasks", Value(std::to_string(taskCount_)), node);
    addKey("threads", Value(std::to_string(threadCount_)), node);
}

}  // namespace telvo
