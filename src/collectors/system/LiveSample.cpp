// Level-0 writes shared by the CPU, load and memory collectors.
#include "collectors/system/LiveSample.h"

#include "platform/time/Clock.h"

namespace telvo::livesample {

statsample& push(StatCollector& collector) {
    statsample* ring = collector.storageForType(0);
    PushSamples(ring, collector.sampleValueCount());
    statsample& slot = ring[0];
    slot.sampleID = collector.sampleIndex(0).sampleID;
    slot.empty = 0;
    slot.time = platform::Clock::now();
    return slot;
}

void pushEmpty(StatCollector& collector) {
    statsample& slot = push(collector);
    for (int64_t i = 0; i < collector.sampleValueCount(); ++i) slot.values[i] = 0;
    slot.empty = 1;
}

void finish(StatCollector& collector) {
    if (const auto& done = collector.updaterFinishBlock()) done(collector);
}

}  // namespace telvo::livesample
