#pragma once
// SoftRAIDStatCollector: the SoftRAID collector's neutral part and process-wide instance. It
// lists the registry services named "SoftRAID_Media" (none on Linux, where that driver does not
// exist: the list stays empty) every 30 ticks from tick 0; its session counts 1, 2, 3... from
// the daemon's start, one per scan.
#include <memory>
#include <string>

#include "collectors/framework/StatCollector.h"
#include "collectors/storage/SoftRAIDStatCollectorItem.h"

namespace telvo {

class SoftRAIDStatCollector : public StatCollector {
public:
    static std::shared_ptr<SoftRAIDStatCollector> sharedSoftRaidCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    SoftRAIDStatCollector();
    static int64_t storageType() { return 2; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<SoftRAIDStatCollectorItem>(); };
    }
    std::string statType() const override { return "softraid"; }
    using StatCollector::updateStats;
    void updateStats() override { fetchDisks(); }
    bool shouldUpdateStateForSequence(int64_t sequence) override { return sequence == 0 || sequence % 30 == 0; }
    void fetchDisks();

    std::shared_ptr<SoftRAIDStatCollectorItem> softItemWithKey(const std::string& key);
    // The whole disk of a BSD name: "disk3s2" gives "disk3", "sda2" stays "sda2".
    static std::string rootBSDDiskForKey(const std::string& key);
};

}  // namespace telvo
