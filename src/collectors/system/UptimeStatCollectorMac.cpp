// The boot time from the kernel.
#include "collectors/system/UptimeStatCollectorMac.h"

#include "collectors/framework/SharedCollector.h"
#include "platform/host/BootTime.h"

namespace telvo {

std::shared_ptr<UptimeStatCollectorMac> UptimeStatCollectorMac::sharedUptimeCollector() {
    return SharedCollector<UptimeStatCollectorMac>::get([] { return std::make_shared<UptimeStatCollectorMac>(); });
}

void UptimeStatCollectorMac::cleanupShared() { SharedCollector<UptimeStatCollectorMac>::drop(); }

bool UptimeStatCollectorMac::readBootTime(double& seconds) {
    int64_t s = 0;
    if (!host::readBootTime(s)) return false;
    seconds = static_cast<double>(s);
    return true;
}

}  // namespace telvo
