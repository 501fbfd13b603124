#pragma once
// MemoryStatCollectorMac: the memory collector's platform class and process-wide instance.
// Each tick it reads the memory classes, paging counters and swap use (how Linux's classes
// map onto them is written down in platform/host/MemoryStatistics.h) and the memory
// pressure, and derives the per-tick paging, the totals and the pressure percentage.
#include <cstdint>
#include <memory>

#include "collectors/system/MemoryStatCollector.h"
#include "platform/host/MemoryStatistics.h"

namespace telvo {

class MemoryStatCollectorMac : public MemoryStatCollector {
public:
    static std::shared_ptr<MemoryStatCollectorMac> sharedMemoryCollector();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    // Reads the installed memory once (it is read again while it is unknown).
    MemoryStatCollectorMac();
    // One sample; an empty one when the memory statistics cannot be read.
    void updateStats() override;

    uint64_t memorySize() const { return memorySize_; }

private:
    host::MemoryStatisticsReader reader_;
    uint64_t memorySize_ = 0;  // bytes; 0 while unknown
    bool lastReadFailed_ = false;
};

}  // namespace telvo
