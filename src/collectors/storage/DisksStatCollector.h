#pragma once
// DisksStatCollector: the mounted volumes with their used, free and total space and use in
// percent, served as stat type "disks" (storage type 2, tables with prefix "disk"). Clients of
// protocols 0 to 2 get the sizes in mebibytes, later ones in bytes; history rows hold bytes and
// carry "format" 1 (older rows of "format" 0, in mebibytes, are migrated once).
#include <string>

#include "collectors/framework/StatCollector.h"
#include "collectors/storage/DiskStatCollectorItem.h"

namespace telvo {

class DisksStatCollector : public StatCollector {
public:
    DisksStatCollector();
    static int64_t sampleCount() { return 4; }
    static std::string statTypeName() { return "disks"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "DisksStatCollector"; }
    double updateFrequencyForVersion(int64_t) const override { return 6.0; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<DiskStatCollectorItem>(); };
    }
    // Disk images and optical volumes are sampled but never sent.
    bool xmlShouldAddSampleItem(const StatCollectorItem& item) override;
    // Adds the "format" column to the item tables that lack it and turns their old
    // mebibyte rows into bytes.
    bool migrateDatabase(bool flag) override;
};

}  // namespace telvo
