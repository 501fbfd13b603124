#include "daemon/DaemonCollectors.h"

#include <fstream>

#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "collectors/system/UptimeStatCollectorMac.h"

#include "foundation/KXRVersions.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {

std::string dmiProductName() {
    std::ifstream in("/sys/class/dmi/id/product_name");
    std::string model;
    if (!in || !std::getline(in, model)) return "";
    return model;
}

}  // namespace

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
    auto uptime = UptimeStatCollectorMac::sharedUptimeCollector();
    c.uptime = uptime;
    c.loadUptime = [uptime] { uptime->loadUptime(); };
    c.modelIdentifier = dmiProductName;
    c.osVersion = [] {
        const KXRVersions& v = KXRVersions::sharedVersions();
        return format("%d.%d.%d", int(v.major()), int(v.minor()), int(v.bugfix()));
    };
    return c;
}

}  // namespace telvo
