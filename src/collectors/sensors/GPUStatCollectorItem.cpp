#include "collectors/sensors/GPUStatCollectorItem.h"

#include "collectors/sensors/GPUStatCollector.h"
#include "platform/values/Format.h"

namespace telvo {

GPUStatCollectorItem::GPUStatCollectorItem() : StatCollectorItem(sampleCount()) {}

int64_t GPUStatCollectorItem::sampleCount() { return GPUStatCollector::sampleCount(); }

std::string GPUStatCollectorItem::description() const {
    return format("key = '%@', model = %@, intergrated = %i, connected = %i, temporary %d", key(), model,
                  int(intergrated), int(connected), int(temporary()));
}

void GPUStatCollectorItem::addSampleWithProcessor(double processorUse, double memory, double time, double identifier) {
    statsample* ring = storageForType(0);
    if (!ring) return;
    PushSamples(ring, sampleValueCount());
    ring[0].values[1] = processorUse;
    ring[0].values[0] = memory;
    ring[0].sampleID = identifier;
    ring[0].time = time;
    ring[0].empty = 0;
}

}  // namespace telvo
