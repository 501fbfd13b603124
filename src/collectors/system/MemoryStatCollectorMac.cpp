// Sampling of memory, paging, swap and pressure.
#include "collectors/system/MemoryStatCollectorMac.h"

#include <cmath>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/system/LiveSample.h"

namespace telvo {

std::shared_ptr<MemoryStatCollectorMac> MemoryStatCollectorMac::sharedMemoryCollector() {
    return SharedCollector<MemoryStatCollectorMac>::get([] { return std::make_shared<MemoryStatCollectorMac>(); });
}

void MemoryStatCollectorMac::cleanupShared() { SharedCollector<MemoryStatCollectorMac>::drop(); }

MemoryStatCollectorMac::MemoryStatCollectorMac() {
    if (!reader_.readMemorySize(memorySize_)) memorySize_ = 0;
}

void MemoryStatCollectorMac::updateStats() {
    host::VMStatistics vm;
    host::SwapUsage swap;
    const bool read = reader_.read(vm, swap);
    if (read != !lastReadFailed_) {
        frameworklog::log(read ? "memory: memory statistics readable again" : "memory: cannot read the memory statistics");
        lastReadFailed_ = !read;
    }
    if (!read) {
        livesample::pushEmpty(*this);
        livesample::finish(*this);
        return;
    }
    if (memorySize_ == 0 && !reader_.readMemorySize(memorySize_)) memorySize_ = 0;

    statsample* ring = storageForType(0);
    statsample& slot = livesample::push(*this);
    double* v = slot.values;
    const statsample& previous = ring[1];
    const double pageSize = static_cast<double>(vm.pageSize);
    auto kb = [&](uint64_t pages) { return static_cast<double>(pages) * pageSize / 1024.0; };

    v[kCompressed] = 0;
    v[kWired] = kb(vm.wiredPages);
    v[kActive] = kb(vm.activePages);
    v[kInactive] = kb(vm.inactivePages);
    v[kFree] = kb(vm.freePages);
    v[kPageins] = static_cast<double>(vm.pageins);
    v[kPageouts] = static_cast<double>(vm.pageouts);
    v[kSwapUsed] = static_cast<double>(swap.used);
    v[kSwapTotal] = static_cast<double>(swap.total);

    // Bytes paged during the last tick; 0 without a previous sample or when a counter went back.
    auto perTick = [&](int index) {
        const double before = previous.empty ? 0 : previous.values[index];
        if (before == 0) return 0.0;
        const double d = (v[index] - before) * pageSize;
        return (std::isnan(d) || d < 0) ? 0.0 : d;
    };
    v[kPageinsPerTick] = perTick(kPageins);
    v[kPageoutsPerTick] = perTick(kPageouts);

    // The kernel keeps no purgeable class apart; should one ever exceed the app pages, app
    // memory is 0, not negative.
    const uint64_t app = vm.internalPages > vm.purgeablePages ? vm.internalPages - vm.purgeablePages : 0;
    v[kCompressed] = static_cast<float>(kb(vm.compressorPages));
    v[kApp] = static_cast<float>(kb(app));
    v[kFileCache] = static_cast<float>(kb(vm.externalPages + vm.purgeablePages));

    v[kTotal] = memorySize_ != 0 ? static_cast<double>(memorySize_) / 1024.0
                                 : v[kWired] + v[kActive] + v[kFree] + v[kInactive];
    double pressure = (v[kWired] + v[kCompressed]) / v[kTotal] * 100.0;
    v[kPressure] = std::isfinite(pressure) ? pressure : 0;

    double level = 0;
    if (reader_.readPressure(level)) setPressureLevel(level);
    v[kPressureLevel] = pressureLevel();

    livesample::finish(*this);
}

}  // namespace telvo
