#pragma once
// SMARTStatCollector: the health of the SMART-capable drives. One item per drive (keyed by its
// serial), found through the registry's "SMART Capable" services and reloaded 5 s after a
// block-storage driver is published or terminated; every 600 ticks (tick 0 included) each drive
// is read off the main queue (at most one read in flight per drive) and the result applied on
// the main queue. Served as "smart": key, BSD name and overall status per drive.
#include <memory>
#include <string>

#include "collectors/framework/StatCollector.h"
#include "collectors/storage/SMARTStatCollectorItem.h"
#include "platform/registry/NotificationPort.h"

namespace telvo {

class SMARTStatCollector : public StatCollector {
public:
    static std::shared_ptr<SMARTStatCollector> sharedSMARTCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    SMARTStatCollector();
    static int64_t storageType() { return 2; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<SMARTStatCollectorItem>(); };
    }
    std::string statType() const override { return "smart"; }
    bool shouldUpdateStateForSequence(int64_t sequence) override { return sequence % 600 == 0; }
    using StatCollector::updateStats;
    void updateStats() override;
    void cleanup() override;

    void loadDisks();
    void disksChanged() { loadDisks(); }
    bool loadAllAttributes = false;

    // Reads still under way (tests wait for none).
    int readsInFlight() const { return inFlight_; }
    // Model texts beginning "APPLE HDD" or "APPLE SSD" become "Apple HDD" or "Apple SSD".
    static std::string modelName(const std::string& model);

private:
    void addNotifications();
    void startRead(const std::shared_ptr<SMARTStatCollectorItem>& item, double sampleID, bool wantIdentity);

    std::shared_ptr<registry::NotificationPort> port_;
    int inFlight_ = 0;
};

}  // namespace telvo
