// Sampling of the load averages.
#include "collectors/system/LoadStatCollectorMac.h"

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/system/LiveSample.h"

namespace telvo {

std::shared_ptr<LoadStatCollectorMac> LoadStatCollectorMac::sharedLoadCollector() {
    return SharedCollector<LoadStatCollectorMac>::get([] { return std::make_shared<LoadStatCollectorMac>(); });
}

void LoadStatCollectorMac::cleanupShared() { SharedCollector<LoadStatCollectorMac>::drop(); }

void LoadStatCollectorMac::updateStats() {
    host::LoadAverages load;
    const bool read = reader_.read(load);
    if (read != !lastReadFailed_) {
        frameworklog::log(read ? "load: load averages readable again" : "load: cannot read the load averages");
        lastReadFailed_ = !read;
    }
    if (read) {
        statsample& slot = livesample::push(*this);
        slot.values[0] = load.one;
        slot.values[1] = load.five;
        slot.values[2] = load.fifteen;
    } else {
        livesample::pushEmpty(*this);
    }
    livesample::finish(*this);
}

}  // namespace telvo
