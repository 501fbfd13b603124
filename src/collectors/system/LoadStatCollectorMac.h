#pragma once
// LoadStatCollectorMac: the load collector's platform class and process-wide instance; each
// tick reads the load averages from /proc/loadavg.
#include <memory>

#include "collectors/system/LoadStatCollector.h"
#include "platform/host/LoadAverages.h"

namespace telvo {

class LoadStatCollectorMac : public LoadStatCollector {
public:
    static std::shared_ptr<LoadStatCollectorMac> sharedLoadCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    // One sample; an empty one when the averages cannot be read.
    void updateStats() override;

private:
    host::LoadAverageReader reader_;
    bool lastReadFailed_ = false;
};

}  // namespace telvo
