#pragma once
// DiskStatCollectorItem: one mounted volume of the volumes collector, keyed by its volume UUID
// (or BSD name, or for a network volume its mount URL), with its used, free and total space
// in bytes and its use in percent (values 0 to 3: "u", "f", "s", "p").
#include <cstdint>
#include <string>

#include "collectors/framework/StatCollectorItem.h"

namespace telvo {

class DiskStatCollectorItem : public StatCollectorItem {
public:
    enum : int { kUsed = 0, kFree = 1, kSize = 2, kPercentage = 3 };
    DiskStatCollectorItem() : StatCollectorItem(sampleCount()) {}
    static int64_t sampleCount() { return 4; }

    std::string path, name, bsd, label;
    bool mounted = false;
    int64_t type = 0;
    int64_t hardwareType = 0;
    int64_t partitionID = 0;
    int64_t unitID = 0;
    bool ejectable = false;
    double storageSize = 0, storageFree = 0, storageUsed = 0, storagePercentage = 0;
    double modificationTime = 0;
    double iokitSize = 0;
    double lastUpdate = 0;
    double sizesBackups = 0;
    bool hasSizes = false;

    // 0 "physical", 1 "zfs", 2 "network", 3 "disk image", 4 "optical", 5 "unknown".
    std::string stringForType() const;
    // "name" (XML-safe; escaped once, by the XML writer), "uuid", "type", "bsd", "boot".
    Value xmlStorageItem() const override;
    Value xmlSamplesFromAttributes(const Value& attributes) const override {
        return xmlDefaultSamplesFromAttributes(attributes);
    }
    // Samples read back from history rows carry no percentage: it is worked out from used
    // and size.
    Value xmlSampleFromSample(const statsample& sample, int64_t level, int64_t protocol) const override;
    // Shifts level 0 and writes used, free, size and percentage with that sample number.
    void pushSample(double sampleID, double time);
    std::string description() const override;
};

}  // namespace telvo
