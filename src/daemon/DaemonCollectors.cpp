#include "daemon/DaemonCollectors.h"

#include <fstream>

#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/ProcessStatCollector.h"
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
    c.cpu = CPUStatCollectorMac::sharedCPUCollector();
    c.load = LoadStatCollectorMac::sharedLoadCollector();
    c.memory = MemoryStatCollectorMac::sharedMemoryCollector();
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
    c.modelIdentifier = dmiProductName;
    c.osVersion = [] {
        const KXRVersions& v = KXRVersions::sharedVersions();
        return format("%d.%d.%d", int(v.major()), int(v.minor()), int(v.bugfix()));
    };
    return c;
}

}  // namespace telvo
