#pragma once
// DiskInfoStatCollector: the machine's physical disks and their partitions, served as stat
// type "diskinfo" (session-based: a client gets the disks again only after a disk event has
// raised the session), without samples or history. The information records of the last
// registry scan are kept apart from the items, under a lock, so that other queues can look
// disks up (infoForBSD, physicalDiskForBSD, sizeForDiskWithBSD) while the items themselves
// change only on the main queue.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collectors/framework/StatCollector.h"
#include "collectors/storage/DiskInfoStatCollectorItem.h"

namespace telvo {

class DiskInfoStatCollector : public StatCollector {
public:
    DiskInfoStatCollector();
    static std::string statTypeName() { return "diskinfo"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "DiskInfoStatCollector"; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<DiskInfoStatCollectorItem>(); };
    }

    // The info record of the disk whose "bsd" is the name; null when none.
    Value infoForBSD(const std::string& bsd) const;
    // The info record of the disk that is, or holds as a partition, the name; null when none.
    Value physicalDiskForBSD(const std::string& bsd) const;
    // The disk's "size" (a number), else the "size" of its first partition of that name (text).
    Value sizeForDiskWithBSD(const std::string& bsd) const;
    // The records of the last scan, in scan order.
    std::vector<Value> records() const;

protected:
    // Replaces the records (any queue).
    void setRecords(std::vector<Value> records);
    // Makes the items match the records: found or made by "bsd", given the record, its name and
    // the collector's session; the others removed. Main queue.
    void applyRecords(const std::vector<Value>& records);

private:
    mutable std::mutex recordsMutex_;
    std::vector<Value> records_;
};

}  // namespace telvo
