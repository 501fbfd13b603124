#pragma once
// BatteryStatCollectorMac: the battery collector's platform class and process-wide instance.
// Every sixth tick it reads the power sources (power::PowerSources over the kernel's power
// supplies) and, at most once in ten seconds, the Bluetooth peripherals' batteries
// (bluetooth::BluetoothDevices and the HID services of the device registry); it makes an item
// for each new source, loads its last cycle count and health from the change tables, writes a
// change row when cycles, health or source change, and drops the items whose source is gone.
#include <memory>
#include <string>

#include "collectors/system/BatteryStatCollector.h"
#include "collectors/system/BatteryStatCollectorItemMac.h"
#include "platform/power/PowerSources.h"

namespace telvo {

class BatteryStatCollectorMac : public BatteryStatCollector {
public:
    static std::shared_ptr<BatteryStatCollectorMac> sharedBatteryCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    // The session: the current time in whole seconds.
    void setup();
    ItemFactory itemClass() const override;
    // One sample.
    void updateStats() override;

    // The power-source descriptions, in list order.
    ValueArray batteriesIOPS();
    // The smart batteries' properties: the registry's "AppleSmartBattery" services, else the
    // power-source service's internal batteries.
    ValueArray batteriesSmart();
    // The power adapter's watts; this system has no source for them, so they stay 0.
    void updateAdapter() {}
    // One reading of the Bluetooth peripherals (called by the sample only).
    void updateBluetooth();
    // The registry battery entries of the services named `service`, appended to `storage`.
    void fetchBluetoothItemsWithKey(const std::string& service, ValueArray& storage);

    // The first non-temporary internal battery; the first internal battery, else the first item.
    std::shared_ptr<BatteryStatCollectorItemMac> internalBattery() const;
    bool hasInteralBattery() const;
    std::shared_ptr<BatteryStatCollectorItemMac> primaryBattery() const;

    int64_t adapterWatts = 0;
    bool externalSourceTime = false;
    double lastBluetoothTime = 0;
    bool disableAllBluetooth = false;
    bool useClassicBluetooth = false;

protected:
    // Reads the power-source service into `snapshot_` (once per sample, before
    // batteriesSmart and batteriesIOPS).
    virtual void readPowerSources();
    power::PowerSourcesSnapshot snapshot_;

private:
    std::shared_ptr<BatteryStatCollectorItemMac> batteryItem(const std::string& key);
    void writeChange(const char* sql, const std::string& key, const Value& value);
    // Reads a new item's last stored cycles and health without waiting; when they come, a
    // reading taken meanwhile is told against them (a row when it differs), else the item
    // takes them.
    void loadStoredValues(const std::shared_ptr<BatteryStatCollectorItemMac>& item);

    power::PowerSources powerSources_;
};

}  // namespace telvo
