#pragma once
// CPUStatCollectorItem: one logical processor (or, for the physical-core list, one core) of
// the CPU collector, keeping its own one-second ring of user, system and nice percentages
// (its level-0 ring, newest first). Nothing sends these to clients; they are kept for the
// per-processor view.
#include <cstdint>

#include "collectors/framework/StatCollectorItem.h"
#include "collectors/system/CPUStatCollector.h"

namespace telvo {

class CPUStatCollectorItem : public StatCollectorItem {
public:
    CPUStatCollectorItem() : StatCollectorItem(sampleCount()) {}
    static int64_t sampleCount() { return CPUStatCollector::sampleCount(); }

    using StatCollectorItem::addSample;
    // Adds 1 to the item's sample number, shifts its ring and writes the three percentages.
    void addSample(float user, float system, float nice);
    // The ring's slot, whatever the level.
    statsample sampleAtIndex(int64_t slot, int64_t level) const;
    // The slot with that sample number, else the item's empty sample carrying it.
    statsample sampleWithIdentifier(double sampleID, int64_t level);
    // The item's sample number, whatever the level.
    double idForInterval(int64_t) const { return sampleID_; }
    double sampleID() const { return sampleID_; }

private:
    double sampleID_ = 0;
};

}  // namespace telvo
