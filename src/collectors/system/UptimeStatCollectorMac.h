#pragma once
// UptimeStatCollectorMac: the uptime collector's platform class and process-wide instance;
// the boot time is the "btime" of /proc/stat.
#include <memory>

#include "collectors/system/UptimeStatCollector.h"

namespace telvo {

class UptimeStatCollectorMac : public UptimeStatCollector {
public:
    static std::shared_ptr<UptimeStatCollectorMac> sharedUptimeCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

protected:
    bool readBootTime(double& seconds) override;
};

}  // namespace telvo
