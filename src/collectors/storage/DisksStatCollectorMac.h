#pragma once
// DisksStatCollectorMac: the volumes collector's process-wide instance. On every third tick it
// rebuilds its volumes from the disk information collector's `DADisks` (mounted, mountable
// volumes; not the EFI system or recovery partitions) and reads their capacities (statvfs:
// size f_blocks × f_frsize, free f_bavail × f_frsize). Network volumes are read every 36th
// sequence on a worker thread of their own, at most one read outstanding per volume, and the
// result is applied on the main queue to the item of that key if it still exists; a read that
// takes longer than the time-out is reported and its late answer dropped. A disk change
// raises the session and rebuilds the volumes at once; it takes no sample (new volumes get
// theirs on the next sampling tick), so every sample number is used once.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "collectors/storage/DisksStatCollector.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo {

class DisksStatCollectorMac : public DisksStatCollector {
public:
    struct Capacity {
        bool read = false;
        double size = 0;
        double free = 0;
    };
    using CapacityReader = std::function<Capacity(const std::string& path)>;

    static std::shared_ptr<DisksStatCollectorMac> sharedDiskCollector();
    static void cleanupShared();
    static void resetForTesting();

    DisksStatCollectorMac();
    // Observes "DISK_CHANGED_NOTIFICATION".
    void setup();
    void cleanup() override;

    bool shouldUpdateStateForSequence(int64_t sequence) override { return sequence % 3 == 0; }
    void updateStats(int64_t sequence) override;
    // The session + 1 and a rebuild of the volumes, both on the main queue.
    void diskChange();
    // The volumes from the disk list; the session + 1 and the delegates told when they
    // changed. True when they did.
    bool rebuildItems();

    static Capacity readCapacity(const std::string& path);
    static void setCapacityReaderForTesting(CapacityReader reader);
    static void setNetworkTimeoutForTesting(double seconds);
    // Network reads started and not yet answered (tests).
    size_t outstandingNetworkReads() const { return outstanding_.size(); }

private:
    bool processPartition(const Value& record);
    void sampleItem(DiskStatCollectorItem& item, const Capacity& capacity, double sampleID, double time);
    void startNetworkRead(const std::shared_ptr<DiskStatCollectorItem>& item, double sampleID);

    notify::ObserverToken observer_ = 0;
    // Main queue: key -> number of the read in flight.
    std::map<std::string, uint64_t> outstanding_;
    uint64_t nextRead_ = 1;
};

}  // namespace telvo
