#pragma once
// SensorsStatCollectorMac: the sensors collector's platform class and process-wide instance.
// Made at start-up, it opens the SMC (logging one line when there is none). loadSensors
// discovers the sensors once from the platform's sensor table (electric sensors whose keys read)
// and the SMC's fans; then every even tick reads each sensor, stores value and percentage, and
// queues the moved extremes into "sensor_limits" of the local history file, from which they
// are restored at the next start. Sampling runs on the main queue.
#include <memory>
#include <string>
#include <vector>

#include "collectors/sensors/SensorStatCollectorItemMac.h"
#include "collectors/sensors/SensorsStatCollector.h"

namespace telvo {

class SensorsStatCollectorMac : public SensorsStatCollector {
public:
    // Most fans and SMC keys believed possible; larger counts are clamped with a log line.
    static constexpr int kMaximumFans = 16;

    static std::shared_ptr<SensorsStatCollectorMac> sharedSensorCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    SensorsStatCollectorMac();
    // Opens the SMC.
    void setup();

    ItemFactory itemClass() const override;
    // Creates "sensor_limits" when missing (answering true then).
    bool migrateDatabase(bool flag) override;
    bool shouldUpdateStateForSequence(int64_t sequence) override { return sequence % 2 == 0; }
    bool threadedUpdating() const override { return false; }
    void updateStats(int64_t sequence) override;

    void loadSensors();
    void loadElectric();
    void loadFans();
    // Processor-frequency sensors: none exist on this platform.
    void loadIntelSensors() {}
    void startIntelSensors() {}
    void startLogging() override;

    // Valid unless it reads exactly 254 or -1; "TG" keys are always valid.
    bool isKeyValid(const std::string& key);
    float valueForSensorKey(const std::string& key) { return SensorStatCollectorItemMac::valueForSensorKey(key); }
    // A sensor's first reading.
    float valueForSensor(const SensorStatCollectorItem& item);
    void loadSeenLimitsForSensor(SensorStatCollectorItem& item);

    bool fanControlSupported() const { return fanControlSupported_; }

private:
    std::shared_ptr<SensorStatCollectorItemMac> makeItem(const std::string& key);

    bool fanControlSupported_ = false;
};

}  // namespace telvo
