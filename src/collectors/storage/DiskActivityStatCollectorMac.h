#pragma once
// DiskActivityStatCollectorMac: the disk activity collector's process-wide instance. It keeps
// one wrapper per block-storage driver (rebuilt on the registry's publish and terminate
// notifications, now and again 2 s later) and one item per physical disk, keyed from the disk
// information collector's serial and logical unit (rebuilt after every disk information
// rescan), and samples each driver's "Statistics" every tick. Disk images, network and optical
// disks get no item. Rows stored under a plain serial move to the serial-and-unit key once per
// run; a statement that fails is logged and tried again at the next match.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "collectors/storage/DiskActivityStatCollector.h"
#include "collectors/storage/DiskActivityStatCollectorItem.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/registry/NotificationPort.h"

namespace telvo {

class DiskActivityStatCollectorMac : public DiskActivityStatCollector {
public:
    static std::shared_ptr<DiskActivityStatCollectorMac> sharedDiskActivityCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    DiskActivityStatCollectorMac();
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<DiskActivityStatCollectorItem>(); };
    }
    void setup();
    void cleanup() override;

    void rebuildDisks();
    void updateHardwareInfo();
    void migrateDisk(const std::string& newKey, const std::string& oldKey);
    void updateStats() override;

    const std::vector<std::shared_ptr<DiskActivityStatCollectorItemWrapper>>& wrappers() const { return wrappers_; }
    std::shared_ptr<DiskActivityStatCollectorItemWrapper> wrapperItemWithKey(const std::string& bsd);
    // Keys whose rows were moved in this run (tests).
    const std::set<std::string>& migratedUUIDS() const { return migrated_; }

private:
    void startNotifications();
    // The publish and terminate callbacks: the scan pair now and again 2 s later.
    void driversChanged();
    void hardwareInfoChanged();

    std::shared_ptr<registry::NotificationPort> port_;
    notify::ObserverToken observer_ = 0;
    std::vector<std::shared_ptr<DiskActivityStatCollectorItemWrapper>> wrappers_;
    std::set<std::string> migrated_;
    std::set<std::string> migrating_;
};

}  // namespace telvo
