#include "daemon/DaemonCollectors.h"

#include <fstream>

#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/UptimeStatCollectorMac.h"
#include "collectors/storage/DiskActivityStatCollectorMac.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/DisksStatCollectorMac.h"

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
    auto diskInfo = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
    c.diskInfo = diskInfo;
    c.listenForDiskChanges = [diskInfo] { diskInfo->listenForChanges(); };
    c.fetchDiskInfo = [diskInfo] { diskInfo->fetchInfo(); };
    c.disks = DisksStatCollectorMac::sharedDiskCollector();
    c.diskActivity = DiskActivityStatCollectorMac::sharedDiskActivityCollector();
    c.modelIdentifier = dmiProductName;
    c.osVersion = [] {
        const KXRVersions& v = KXRVersions::sharedVersions();
        return format("%d.%d.%d", int(v.major()), int(v.minor()), int(v.bugfix()));
    };
    return c;
}

}  // namespace telvo
