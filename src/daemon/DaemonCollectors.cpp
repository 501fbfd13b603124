#include "daemon/DaemonCollectors.h"

#include "collectors/sensors/SensorsStatCollectorMac.h"
#include "collectors/sensors/ServerInfoCollector.h"
#include "collectors/storage/CoreStorageStatCollector.h"
#include "collectors/storage/DiskActivityStatCollectorMac.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/DisksStatCollectorMac.h"
#include "collectors/storage/RaidStatCollectorMac.h"
#include "collectors/storage/SMARTStatCollector.h"
#include "collectors/storage/SoftRAIDStatCollector.h"
#include "collectors/system/BatteryStatCollectorMac.h"
#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "collectors/system/ProcessStatCollector.h"
#include "collectors/system/UptimeStatCollectorMac.h"
#include "platforms/PlatformController.h"
#include "platforms/PlatformModelList.h"

namespace telvo {

DaemonCollectors makeDaemonCollectors() {
    DaemonCollectors c;
    auto network = NetworkStatCollectorMac::sharedNetworkCollector();
    c.network = network;
    c.setBandwidthDatabasePath = [network](const std::string& path) { network->setBandwidthDatabasePath(path); };
    c.setBandwidthMonitoringEnabled = [network](bool on) { network->setBandwidthMonitoringEnabled(on); };
    c.prepareBandwidthDatabase = [network] { return network->prepareBandwidthDatabase(); };
    c.prepareBandwidthMonitoring = [network] { network->prepareBandwidthMonitoring(); };
    c.saveBandwidth = [network] { network->saveBandwidth(); };
    c.cpu = CPUStatCollectorMac::sharedCPUCollector();
    c.load = LoadStatCollectorMac::sharedLoadCollector();
    c.memory = MemoryStatCollectorMac::sharedMemoryCollector();
    c.battery = BatteryStatCollectorMac::sharedBatteryCollector();
    auto uptime = UptimeStatCollectorMac::sharedUptimeCollector();
    c.uptime = uptime;
    c.loadUptime = [uptime] { uptime->loadUptime(); };
    auto processes = ProcessStatCollector::sharedProcesses();
    c.processes = processes;
    c.processUpdateMask = [processes] { return static_cast<uint64_t>(processes->updateMask()); };
    c.setProcessUpdateMask = [processes](uint64_t mask) { processes->setUpdateMask(static_cast<int64_t>(mask)); };
    c.updateProcesses = [processes] { processes->update(); };
    c.setProcessSharingCounts = [processes](int cpu, int memory, int network, int diskActivity, int power) {
        processes->setSharingProcessCPUCount(static_cast<int8_t>(cpu));
        processes->setSharingProcessMemoryCount(static_cast<int8_t>(memory));
        processes->setSharingProcessNetworkCount(static_cast<int8_t>(network));
        processes->setSharingProcessDiskActivityCount(static_cast<int8_t>(diskActivity));
        processes->setSharingProcessPowerCount(static_cast<int8_t>(power));
    };
    auto diskInfo = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
    c.diskInfo = diskInfo;
    c.listenForDiskChanges = [diskInfo] { diskInfo->listenForChanges(); };
    c.fetchDiskInfo = [diskInfo] { diskInfo->fetchInfo(); };
    c.disks = DisksStatCollectorMac::sharedDiskCollector();
    c.diskActivity = DiskActivityStatCollectorMac::sharedDiskActivityCollector();
    c.raid = RaidStatCollectorMac::sharedRaidCollector();
    c.coreStorage = CoreStorageStatCollector::sharedCoreStorageCollector();
    c.softRaid = SoftRAIDStatCollector::sharedSoftRaidCollector();
    auto smart = SMARTStatCollector::sharedSMARTCollector();
    c.smart = smart;
    c.loadSMARTDisks = [smart] { smart->loadDisks(); };
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
