#include "daemon/DaemonCollectors.h"

#include "collectors/sensors/SensorsStatCollectorMac.h"
#include "collectors/sensors/ServerInfoCollector.h"
#include "collectors/system/BatteryStatCollectorMac.h"
#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/UptimeStatCollectorMac.h"
#include "platforms/PlatformController.h"
#include "platforms/PlatformModelList.h"

namespace telvo {

DaemonCollectors makeDaemonCollectors() {
    DaemonCollectors c;
    c.cpu = CPUStatCollectorMac::sharedCPUCollector();
    c.load = LoadStatCollectorMac::sharedLoadCollector();
    c.memory = MemoryStatCollectorMac::sharedMemoryCollector();
    c.battery = BatteryStatCollectorMac::sharedBatteryCollector();
    auto uptime = UptimeStatCollectorMac::sharedUptimeCollector();
    c.uptime = uptime;
    c.loadUptime = [uptime] { uptime->loadUptime(); };
    // The platform registry knows this build's model tables before anything asks it.
    PlatformController::registerModels(platforms::platformModelList());
    auto sensors = SensorsStatCollectorMac::sharedSensorCollector();
    c.sensors = sensors;
    c.loadSensors = [sensors] { sensors->loadSensors(); };
    c.serverInfo = ServerInfoCollector::sharedServerInfoCollector();
    c.modelIdentifier = [] {
        PlatformController* platform = PlatformController::sharedPlatformController();
        return platform && platform->modelIdentifier() ? *platform->modelIdentifier() : std::string();
    };
    c.osVersion = [] { return PlatformController::currentPlatform()->osVersion(); };
    return c;
}

}  // namespace telvo
