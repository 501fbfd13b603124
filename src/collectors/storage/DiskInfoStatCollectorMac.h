#pragma once
// DiskInfoStatCollectorMac: the disk information collector's process-wide instance. It scans
// the registry below the block-storage drivers into its disks' information records, and keeps
// `DADisks`, one record per whole disk (with its partitions and their volume facts: mount
// path, name, UUID, type) from the disk-arbitration session. Every disk event, handled on the
// collector's own queue, updates `DADisks`, rescans the registry, raises the session and posts
// "DISK_CHANGED_NOTIFICATION"; every rescan posts "DISKINFO_HARDWARE_INFO_CHANGED". Both
// notifications are posted on that queue. Readers on other queues get copies taken under a
// lock; the items and the session change on the main queue.
#include <memory>
#include <mutex>
#include <string>

#include "collectors/storage/DiskInfoStatCollector.h"
#include "platform/diskarb/Session.h"

namespace telvo {

class DiskInfoStatCollectorMac : public DiskInfoStatCollector {
public:
    static std::shared_ptr<DiskInfoStatCollectorMac> sharedDiskInfoCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    DiskInfoStatCollectorMac();

    // Queues, on the main queue, the start of the disk-arbitration session.
    void listenForChanges();
    // Rescans the registry into the records and posts "DISKINFO_HARDWARE_INFO_CHANGED". On
    // the main queue the items follow at once, elsewhere in a task queued there.
    void fetchInfo();
    // fetchInfo, then the session + 1 (on the main queue).
    void diskChange();
    // Copies serials and sizes from the records into `DADisks`.
    void updateDiskIDS();
    // A copy of the whole-disk list.
    ValueArray DADisks() const;

    // The disk-arbitration handlers (the collector's queue).
    void DADiskAppeared(const Value& description);
    void DADiskDisappeared(const Value& description);
    void DADiskChanged(const Value& description);

    // Tests: the session scans with this in place of the machine.
    void setScannerForTesting(diskarb::Session::Scanner scanner) { scanner_ = std::move(scanner); }
    const std::shared_ptr<diskarb::Session>& daSession() const { return daSession_; }
    void cleanup() override;

    // The key of a description: its BSD name; for a network volume its mount URL text (none
    // for "autofs"); for a ZFS volume its name. Empty: the disk is ignored.
    static std::string keyFromDADisk(const Value& description);
    // 0 physical, 1 zfs, 2 network, 3 disk image, 4 optical, 5 unknown.
    static int volumeTypeFromDAInfo(const Value& description);
    // The registry scan's information records, in scan order.
    static std::vector<Value> scanRegistry();

private:
    void setupDiskArbitration();
    void rescanRegistry(bool raiseSession);
    void handleEvent(diskarb::Session::Event event, const Value& description);
    Value& processDADiskWhole(const std::string& key, const Value& description);
    static Value createDADiskWhole(const std::string& key, const Value& description);
    static void copyVolumeKeys(Value& record, const Value& description);

    std::shared_ptr<diskarb::Session> daSession_;
    diskarb::Session::Scanner scanner_;
    mutable std::mutex disksMutex_;
    ValueArray daDisks_;
};

}  // namespace telvo
