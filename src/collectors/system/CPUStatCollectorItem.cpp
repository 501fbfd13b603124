// One processor's ring of percentages.
#include "collectors/system/CPUStatCollectorItem.h"

namespace telvo {

void CPUStatCollectorItem::addSample(float user, float system, float nice) {
    statsample* ring = storageForType(0);
    if (!ring) return;
    sampleID_ += 1;
    PushSamples(ring, sampleValueCount());
    ring[0].values[0] = user;
    ring[0].values[1] = system;
    ring[0].values[2] = nice;
    ring[0].sampleID = sampleID_;
    ring[0].empty = 0;
}

statsample CPUStatCollectorItem::sampleAtIndex(int64_t slot, int64_t) const {
    return StatCollectorItem::sampleAtIndex(slot, 0);
}

statsample CPUStatCollectorItem::sampleWithIdentifier(double sampleID, int64_t) {
    return StatCollectorItem::sampleWithIdentifier(sampleID, 0);
}

}  // namespace telvo
