#include "collectors/storage/DiskActivityStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"

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
    historytables::setSampleInsert(c);
    historytables::setItemInsert(c, {"read", "write", "readIOPS", "writeIOPS", "uuid"},
                                 {"r", "w", "rIOPS", "wIOPS", "uuid"});
    const std::string columns = "read double NOT NULL DEFAULT 0, write double NOT NULL DEFAULT 0, readIOPS double NOT NULL DEFAULT 0, writeIOPS double NOT NULL DEFAULT 0";
    c.set("sqlCreate", Value(historytables::itemTable(columns)));
    c.set("sqlCreateID", Value(historytables::sampleTable()));
    c.set("sqlCreateIDLong", Value(historytables::sampleTable()));
    c.set("sqlCreateLong", Value(historytables::longItemTable(columns)));
    c.set("itemAttributeKeys", names({"uuid"}));
}

}  // namespace telvo
