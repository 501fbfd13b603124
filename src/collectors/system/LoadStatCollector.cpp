// The load collector's configuration.
#include "collectors/system/LoadStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"

namespace telvo {

using namespace configmaps;

LoadStatCollector::LoadStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("loadavg");
    Value& c = config();
    c.set("updatePeaks", NSInt(1));
    c.set("addSampleIDKeys", names({"sample", "id"}));
    // "fv" and "ff" are older names of "five" and "fifteen".
    c.set("addSampleMap", indexMap({{"one", 0}, {"fv", 1}, {"ff", 2}, {"five", 1}, {"fifteen", 2}}));
    c.set("sampleKeys", indexMap({{"one", 0}, {"five", 1}, {"fifteen", 2}}));
    c.set("emptySampleKeys", names({"one", "five", "fifteen"}));
    c.set("xmlSampleKeys", indexMap({{"one", 0}, {"five", 1}, {"fifteen", 2}}));
    historytables::setSampleInsert(c, {"one", "five", "fifteen"});
    const std::string create = historytables::sampleTable("one double NOT NULL DEFAULT 0, five double NOT NULL DEFAULT 0, fifteen double NOT NULL DEFAULT 0");
    c.set("sqlCreate", Value(create));
    c.set("sqlCreateLong", Value(create));
}

}  // namespace telvo
