#pragma once
// CPUStatCollectorMac: the CPU collector's platform class and process-wide instance. Each tick
// it reads every processor's tick counters (one read of /proc/stat), turns the differences
// since the previous tick into user, system and nice percentages per processor, and stores
// their average over the processors it could measure. The task and thread counts (a walk of
// /proc) are kept current only while clients ask for them.
#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "collectors/system/CPUStatCollector.h"
#include "collectors/system/CPUStatCollectorItem.h"
#include "platform/host/ProcessorTicks.h"
#include "platform/host/TaskCounts.h"

namespace telvo {

class CPUStatCollectorMac : public CPUStatCollector {
public:
    // The process-wide instance, made and set up on first use.
    static std::shared_ptr<CPUStatCollectorMac> sharedCPUCollector();
    // The class's cleanup: the instance's cleanup, then it is dropped.
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    CPUStatCollectorMac();
    // Reads the processor counts, makes the items and takes the first counters.
    void setup();
    void cleanup() override;

    // Physical cores and online logical processors; 0 when unknown or above 64.
    int64_t physicalCoreCount() const { return physicalCount_; }
    int64_t logicalCoreCount() const { return logicalCount_; }

    void updateStats() override;
    // Task and thread counts; a failed read keeps the previous ones.
    void updateProcessInfo();
    // Counts older than a tick (nobody asked lately) are read before the element is made.
    void xmlPrepareStatNode(StatNode& node) override;

    // One item per physical core (fed from its hardware threads), only with hyper-threading.
    const std::vector<std::shared_ptr<CPUStatCollectorItem>>& physicalCores() const { return physicalCores_; }

private:
    struct Previous {
        host::ProcessorTicks ticks;
        bool known = false;
        bool seen = false;
    };

    host::ProcessorTickReader tickReader_;
    std::mutex taskMutex_;  // the tick and a reply may both read the counts
    host::TaskCountReader taskReader_;
    // Monotonic times of the last reply with the counts and of their last read.
    std::atomic<double> countsAsked_{-1e9};
    std::atomic<double> countsRead_{-1e9};
    std::vector<host::ProcessorTicks> ticks_;
    std::vector<Previous> previous_;  // by processor number, coreCount entries
    std::vector<std::shared_ptr<CPUStatCollectorItem>> physicalCores_;
    std::vector<std::vector<int>> coreMembers_;  // processor numbers of each physical core
    int64_t physicalCount_ = 0;
    int64_t logicalCount_ = 0;
    bool lastReadFailed_ = false;
};

}  // namespace telvo
