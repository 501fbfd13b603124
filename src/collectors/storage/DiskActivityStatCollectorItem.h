#pragma once
// DiskActivityStatCollectorItem: one physical disk of the disk activity collector, with the
// rates of its last sample and, in level 0, the driver's cumulative counters; and the
// wrapper that ties a disk to its block-storage driver in the registry.
#include <cstdint>
#include <memory>
#include <string>

#include "collectors/framework/StatCollectorItem.h"
#include "platform/registry/Entry.h"

namespace telvo {

struct DiskActivityStatCollectorItemWrapper {
    registry::EntryRef registryEntry;  // the driver; empty = none
    bool exists = false;
    std::string key;  // the BSD name found under the driver
};

class DiskActivityStatCollectorItem : public StatCollectorItem {
public:
    DiskActivityStatCollectorItem() : StatCollectorItem(sampleCount()) {}
    static int64_t sampleCount() { return 8; }

    std::string serial, name, bsd, hardwareType;
    double read = 0, write = 0, readIOPS = 0, writeIOPS = 0, readTotal = 0, writeTotal = 0;
    std::shared_ptr<DiskActivityStatCollectorItemWrapper> wrapper;
    double lastTime = 0;

    // The difference of two counters; 0 when negative or not a number, or when either is 0.
    static double diskActivityValue(double now, double before);
    // Reads the driver's counters and samples; nothing without a wrapper.
    void updateWithTime(double time, double identifier);
    void addSample(double readBytes, double writeBytes, double readOps, double writeOps, double time,
                   double identifier);

    // "uuid", "bsd", and the cumulative counters "r" and "w" ("%.0f").
    Value xmlStorageItem() const override;
    Value xmlSamplesFromAttributes(const Value& attributes) const override {
        return xmlDefaultSamplesFromAttributes(attributes);
    }
    std::string description() const override;
};

}  // namespace telvo
