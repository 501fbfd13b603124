#pragma once
// GPUStatCollectorItem: one graphics processor of the GPU collector: its model, whether it is
// integrated and drives the displays, its video memory and use. Each sample holds the memory
// use (value 0, a fraction; -1 unknown) and the processor use (value 1, percent; -1 unknown).
#include <string>

#include "collectors/framework/StatCollectorItem.h"
#include "platform/registry/Entry.h"

namespace telvo {

class GPUStatCollectorItem : public StatCollectorItem {
public:
    GPUStatCollectorItem();
    static int64_t sampleCount();
    std::string description() const override;

    // Shifts the level-0 ring and writes slot 0: processor, memory, sample number, time.
    void addSampleWithProcessor(double processor, double memory, double time, double identifier);

    std::string model;
    bool intergrated = false;
    bool connected = false;
    bool hasProcessorUsage = false;
    double totalyMemory = 0;
    double usedMemory = 0;
    double freeMemory = 0;
    double processor = -1;
    int64_t surfaceCount = 0;
    // The PCI device, and its child holding "PerformanceStatistics".
    registry::EntryRef registryEntry;
    registry::EntryRef registryEntryStats;
};

}  // namespace telvo
