#pragma once
// GPUStatCollector: the graphics processors, one item per PCI display device with its memory
// and processor use (storage type 2, tables "<level>_gpuhistory"). The daemon never creates it.
// GPUStatCollectorMac reads the devices from the registry ("IOPCIDevice" entries named
// "display" with "model", "VRAM,totalMB" and a "PerformanceStatistics" child); there is no
// display or graphics-switching source on Linux, so every processor counts as connected and no
// display records are made.
#include <memory>
#include <string>

#include "collectors/framework/StatCollector.h"
#include "collectors/sensors/GPUStatCollectorItem.h"

namespace telvo {

class GPUStatCollector : public StatCollector {
public:
    GPUStatCollector();
    static int64_t sampleCount() { return 5; }
    ItemFactory itemClass() const override;
    // The window server's frame rate: none here (0).
    float fps() const { return fps_; }

protected:
    float fps_ = 0;
};

class GPUStatCollectorMac : public GPUStatCollector {
public:
    static std::shared_ptr<GPUStatCollectorMac> sharedGPUCollector();
    static void cleanupShared();

    // Finds the graphics processors in the registry and makes their items.
    void fetchGPUS();
    // One sample of every item.
    void updateGPUS();
    // Without a graphics-switching service every processor drives the displays.
    void updateActiveGPU();
    bool shouldUpdateStateForSequence(int64_t sequence) override;
    void updateStats() override;

    std::shared_ptr<GPUStatCollectorItem> activeGPU() const;
    std::shared_ptr<GPUStatCollectorItem> intergratedGPU() const;
    std::shared_ptr<GPUStatCollectorItem> discreteGPU() const;

    // Data: its first 4 bytes as a signed 32-bit number (0 when shorter); a string or number:
    // its value; the absolute value, 0 for anything else.
    static double convertValue(const Value& value);
    // Data as ASCII text; anything else unchanged.
    static Value convertString(const Value& value);
    // Null gives 0; an integer is taken unsigned; else the double value.
    static double convertCFNumber(const Value& value);
};

}  // namespace telvo
