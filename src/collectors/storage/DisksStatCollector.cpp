#include "collectors/storage/DisksStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"
#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/HistoryAccess.h"
#include "platform/time/Clock.h"

namespace telvo {

using namespace configmaps;

DisksStatCollector::DisksStatCollector() : StatCollector(0) {
    setDbTablePrefix("disk");
    setStorageType(2);
    setSession(static_cast<int64_t>(platform::Clock::now()));
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap", indexMap({{"p", 3}, {"u", 0}, {"f", 1}, {"s", 2}, {"percentage", 3}, {"used", 0},
                                    {"free", 1}, {"size", 2}}));
    c.set("sampleKeys", indexMap({{"p", 3}, {"u", 0}, {"f", 1}, {"s", 2}}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    c.set("xmlSampleKeys", indexMap({{"p", 3}, {"u", 0}, {"f", 1}, {"s", 2}}));
    c.set("xmlSampleDivideProtocols", numbers({2, 1, 0}));
    c.set("xmlSampleDivide", NSDouble(1048576.0));
    c.set("xmlSampleDivideExcludeKeys", names({"p"}));
    historytables::setSampleInsert(c);
    historytables::setItemInsert(c, {"used", "free", "size", "uuid"}, {"u", "f", "s", "uuid"}, {{"format", "1"}});
    c.set("sqlCreate", Value(historytables::itemTable(
                           "used double NOT NULL DEFAULT 0, free double NOT NULL DEFAULT 0, size double NOT NULL")));
    c.set("sqlCreateID", Value(historytables::sampleTable()));
    c.set("sqlCreateIDLong", Value(historytables::sampleTable()));
    c.set("sqlCreateLong", Value(historytables::longItemTable(
                               "used double NOT NULL DEFAULT 0, free double NOT NULL DEFAULT 0, size double NOT NULL "
                               "DEFAULT 0")));
    c.set("itemAttributeKeys", names({"uuid"}));
}

bool DisksStatCollector::xmlShouldAddSampleItem(const StatCollectorItem& item) {
    auto disk = dynamic_cast<const DiskStatCollectorItem*>(&item);
    if (disk && (disk->type == 3 || disk->type == 4)) return false;
    return StatCollector::xmlShouldAddSampleItem(item);
}

bool DisksStatCollector::migrateDatabase(bool flag) {
    bool migrated = flag;
    for (int64_t level = 1; level <= 8; ++level) {
        const std::string path = level == 8 ? dbpathLong() : dbpath();
        const std::string table = itemTableAtIndex(level);
        if (path.empty() || table.empty() || !historyaccess::tableExists(path, table)) continue;
        bool hasFormat = false;
        for (const Value& column : historyaccess::query(path, "PRAGMA table_info(" + table + ")"))
            if (column["name"].stringValue() == "format") hasFormat = true;
        if (!hasFormat) {
            if (!historyaccess::execute(path, "ALTER TABLE " + table + " ADD COLUMN format DOUBLE NOT NULL DEFAULT 0")) {
                frameworklog::log("disks: cannot add the format column to " + table);
                continue;
            }
            migrated = true;
        }
        // Every row this code writes has format 1, so rows of format 0 are old ones still in
        // mebibytes, also when a start ended between the two statements.
        if (!historyaccess::execute(path, "UPDATE " + table +
                                              " SET used = (used * 1048576), free = (free * 1048576), size = (size "
                                              "* 1048576), format = 1 WHERE format = 0"))
            frameworklog::log("disks: cannot convert the old rows of " + table);
    }
    return migrated;
}

}  // namespace telvo
