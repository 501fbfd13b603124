#pragma once
// RaidStatCollectorMac: the RAID collector's process-wide instance. It scans the registry's
// RAID member and set objects (on Linux, the md sets the registry backend shapes so) at
// creation, at tick 0 and every 30 ticks while a set exists, and 2 s after every
// "DISK_CHANGED_NOTIFICATION"; every scan raises the session, so clients get the whole list
// again after each one.
#include <memory>

#include "collectors/storage/RaidStatCollector.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo {

class RaidStatCollectorMac : public RaidStatCollector {
public:
    static std::shared_ptr<RaidStatCollectorMac> sharedRaidCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    void setup();
    void cleanup() override;
    using StatCollector::updateStats;
    void updateStats() override { fetchDisks(); }
    bool shouldUpdateStateForSequence(int64_t sequence) override {
        return sequence == 0 || (sequence % 30 == 0 && !items().empty());
    }
    void fetchDisks();
    // Schedules a scan on the main queue 2 s later.
    void diskChange();
    // Scans run so far (tests).
    int scans() const { return scans_; }

private:
    notify::ObserverToken observer_ = 0;
    int scans_ = 0;
};

}  // namespace telvo
