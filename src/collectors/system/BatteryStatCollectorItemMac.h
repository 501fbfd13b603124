#pragma once
// BatteryStatCollectorItemMac: the battery item that reads a power-source description and the
// smart battery's properties into its fields, and writes each sample into its level-0 ring.
// After a change into charging or discharging it reports its time as unknown for ten seconds,
// held by a main-queue timer that keeps the item only weakly.
#include <cstdint>
#include <memory>

#include "collectors/system/BatteryStatCollectorItem.h"

namespace telvo {

class BatteryStatCollectorItemMac : public BatteryStatCollectorItem,
                                    public std::enable_shared_from_this<BatteryStatCollectorItemMac> {
public:
    // One power-source description (keys as the power-source service writes them).
    void processIOPS(const Value& description);
    // The smart battery's properties (internal battery only).
    void processSmart(const Value& properties);
    // Type 0: processSmart, else processIOPS.
    void processBattery(const Value& properties, int64_t type);
    // Percentage from "Current Capacity" as a double, clamped to 0..100 (not-a-number: 0).
    void addIOPSInfo(const Value& description);
    // One level-0 sample: percentage, source, state, the given number and the current time.
    // The first one ends the item's first update.
    void updateWithIdentifier(double sampleID);
    // Ends the hold after a change of state.
    void cancelDelay();

    bool externalSourceTime = false;
    // While the last stored cycles and health are being read (on the local file's queue,
    // not waited for by the tick): whether a reading has set them meanwhile.
    bool storedValuesPending = false;
    bool cyclesRead = false;
    bool healthRead = false;

private:
    uint64_t delayGeneration_ = 0;
};

}  // namespace telvo
