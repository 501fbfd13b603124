// The network collector's configuration, item lookup and bandwidth tables.
#include "collectors/system/NetworkStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"
#include "collectors/framework/FrameworkLog.h"
#include "collectors/system/NetworkStatCollectorItemMac.h"
#include "history/HistoryDatabaseController.h"
#include "history/HistoryDatabaseItem.h"

namespace telvo {

using namespace configmaps;

NetworkStatCollector::NetworkStatCollector() : StatCollector(sampleCount()) {
    setStorageType(2);
    setDbTablePrefix("network");
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap", indexMap({{"d", 0}, {"u", 1}, {"download", 0}, {"upload", 1}, {"d_raw", 2}, {"u_raw", 3}}));
    c.set("sampleKeys", indexMap({{"download", 0}, {"upload", 1}}));
    c.set("emptySampleKeys", Value(ValueArray{}));
    c.set("xmlSampleKeys", indexMap({{"d", 0}, {"u", 1}}));
    historytables::setSampleInsert(c);
    historytables::setItemInsert(c, {"download", "upload", "uuid"});
    c.set("sqlCreate", Value(historytables::itemTable("download double NOT NULL DEFAULT 0, upload double NOT NULL DEFAULT 0")));
    c.set("sqlCreateID", Value(historytables::sampleTable()));
    c.set("sqlCreateLong", Value(historytables::longItemTable("download double NOT NULL DEFAULT 0, upload double NOT NULL DEFAULT 0")));
    c.set("sqlCreateIDLong", Value(historytables::sampleTable()));
    c.set("itemAttributeKeys", names({"uuid"}));
    c.set("itemAttributeOverideKey", Value("_all"));
}

StatCollector::ItemFactory NetworkStatCollector::itemClass() const {
    return [] { return std::make_shared<NetworkStatCollectorItemMac>(); };
}

std::shared_ptr<NetworkStatCollectorItem> NetworkStatCollector::itemWithBsd(const std::string& name) const {
    for (const auto& item : items()) {
        auto n = std::dynamic_pointer_cast<NetworkStatCollectorItem>(item);
        if (n && n->bsd == name) return n;
    }
    return nullptr;
}

bool NetworkStatCollector::prepareBandwidthDatabase() {
    if (bandwidthDatabasePath_.empty()) return false;
    bool created = false;
    databaseItemWithPath(bandwidthDatabasePath_)->queryDatabase([&](const FMDatabasePtr& db) {
        if (!db->tableExists("bandwidth_interface_map")) {
            if (db->executeUpdate("create table bandwidth_interface_map (identifier INTEGER PRIMARY KEY AUTOINCREMENT, "
                                  "interface text NOT NULL)"))
                created = true;
            else
                frameworklog::log("network: cannot create bandwidth_interface_map: " + db->lastErrorMessage());
        }
        if (!db->tableExists("bandwidth_samples")) {
            if (db->executeUpdate("create table bandwidth_samples (sample INTEGER PRIMARY KEY AUTOINCREMENT, start "
                                  "double NOT NULL, end double NOT NULL, interface int NOT NULL, upload double NOT "
                                  "NULL DEFAULT 0, download double NOT NULL DEFAULT 0)"))
                created = true;
            else
                frameworklog::log("network: cannot create bandwidth_samples: " + db->lastErrorMessage());
        }
    });
    return created;
}

}  // namespace telvo
