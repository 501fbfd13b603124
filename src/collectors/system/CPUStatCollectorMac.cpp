// Sampling of the processors' tick counters.
#include "collectors/system/CPUStatCollectorMac.h"

#include <cmath>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/system/LiveSample.h"
#include "platform/host/ProcessorTopology.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {
// Seconds after the last reply that asked for them that the counts are still read each tick.
constexpr double kCountsKeptFor = 10;
}  // namespace

std::shared_ptr<CPUStatCollectorMac> CPUStatCollectorMac::sharedCPUCollector() {
    return SharedCollector<CPUStatCollectorMac>::get([] {
        auto c = std::make_shared<CPUStatCollectorMac>();
        c->setup();
        return c;
    });
}

void CPUStatCollectorMac::cleanupShared() { SharedCollector<CPUStatCollectorMac>::drop(); }

CPUStatCollectorMac::CPUStatCollectorMac() = default;

void CPUStatCollectorMac::setup() {
    const host::ProcessorTopology topology = host::readProcessorTopology();
    logicalCount_ = topology.logical > 64 ? 0 : topology.logical;
    physicalCount_ = topology.physical > 64 ? 0 : topology.physical;
    setCoreCount(0);
    if (logicalCount_ >= 1 && physicalCount_ >= 1 && logicalCount_ == 2 * physicalCount_) {
        setHyperThreading(true);
        coreMembers_ = topology.cores;
        for (size_t j = 0; j < coreMembers_.size(); ++j) physicalCores_.push_back(std::make_shared<CPUStatCollectorItem>());
    }

    const bool read = tickReader_.read(ticks_);
    // Per-processor state is indexed by processor number: as many as the kernel can bring up,
    // else as far as the numbers now seen go.
    int64_t count = topology.configured;
    for (const auto& t : ticks_)
        if (t.processor + 1 > count) count = t.processor + 1;
    setCoreCount(count);
    previous_.assign(static_cast<size_t>(count), Previous{});
    mutableItems().clear();
    for (int64_t i = 0; i < count; ++i) {
        auto item = std::make_shared<CPUStatCollectorItem>();
        item->setConfig(config());
        item->setParent(this);
        mutableItems().push_back(item);
    }
    if (read)
        for (const auto& t : ticks_) {
            previous_[t.processor].ticks = t;
            previous_[t.processor].known = true;
        }
    updateProcessInfo();
}

void CPUStatCollectorMac::cleanup() {
    StatCollector::cleanup();
    previous_.clear();
    ticks_.clear();
    physicalCores_.clear();
    coreMembers_.clear();
}

void CPUStatCollectorMac::updateProcessInfo() {
    std::lock_guard<std::mutex> lock(taskMutex_);
    int tasks = taskCount(), threads = threadCount();
    if (taskReader_.readTasks(tasks)) setTaskCount(tasks);
    if (taskReader_.readThreads(threads)) setThreadCount(threads);
    countsRead_ = platform::Clock::monotonic();
}

void CPUStatCollectorMac::xmlPrepareStatNode(StatNode& node) {
    const double now = platform::Clock::monotonic();
    countsAsked_ = now;
    if (now - countsRead_ > kCountsKeptFor / 8) updateProcessInfo();
    CPUStatCollector::xmlPrepareStatNode(node);
}

void CPUStatCollectorMac::updateStats() {
    const bool read = tickReader_.read(ticks_);
    if (read != !lastReadFailed_) {
        frameworklog::log(read ? "cpu: processor counters readable again" : "cpu: cannot read the processor counters");
        lastReadFailed_ = !read;
    }

    float sumUser = 0, sumSystem = 0, sumNice = 0;
    int summed = 0;
    if (read) {
        for (auto& p : previous_) p.seen = false;
        for (const auto& t : ticks_) {
            // The per-processor state was sized at setup; a processor beyond it is not counted.
            if (t.processor < 0 || t.processor >= static_cast<int>(previous_.size())) continue;
            Previous& prev = previous_[t.processor];
            prev.seen = true;
            const host::ProcessorTicks old = prev.ticks;
            const bool comparable = prev.known && t.user >= old.user && t.system >= old.system &&
                                    t.idle >= old.idle && t.nice >= old.nice && t.steal >= old.steal;
            prev.ticks = t;
            prev.known = true;
            // A processor that just came online, or whose counters started again, has no
            // difference to measure this tick.
            if (!comparable) continue;
            const uint64_t dUser = t.user - old.user, dSystem = t.system - old.system, dNice = t.nice - old.nice;
            const uint64_t total = dUser + dSystem + dNice + (t.idle - old.idle) + (t.steal - old.steal);
            float user = 0, system = 0, nice = 0;
            if (total > 0) {  // unchanged counters are 0 %, not a division by zero
                user = static_cast<float>(static_cast<double>(dUser) / static_cast<double>(total) * 100.0);
                system = static_cast<float>(static_cast<double>(dSystem) / static_cast<double>(total) * 100.0);
                nice = static_cast<float>(static_cast<double>(dNice) / static_cast<double>(total) * 100.0);
            }
            sumUser += user;
            sumSystem += system;
            sumNice += nice;
            ++summed;
            std::static_pointer_cast<CPUStatCollectorItem>(items()[t.processor])->addSample(user, system, nice);
        }
        // An offline processor's counters are not compared with the ones it had before.
        for (auto& p : previous_)
            if (!p.seen) p.known = false;
    }

    if (read && hyperThreading()) {
        for (size_t j = 0; j < physicalCores_.size(); ++j) {
            double user = 0, system = 0;
            for (int member : coreMembers_[j]) {
                if (member < 0 || member >= static_cast<int>(items().size())) continue;  // counts as zeros
                statsample s = std::static_pointer_cast<CPUStatCollectorItem>(items()[member])->sampleAtIndex(0, 0);
                user += s.values ? s.values[0] : 0;
                system += s.values ? s.values[1] : 0;
            }
            const double share = coreMembers_[j].empty() ? 0 : 1.0 / static_cast<double>(coreMembers_[j].size());
            user *= share;
            system *= share;
            physicalCores_[j]->addSample(std::isnan(user) ? 0.f : static_cast<float>(user),
                                         std::isnan(system) ? 0.f : static_cast<float>(system), 0.f);
        }
    }

    if (summed > 0) {
        statsample& slot = livesample::push(*this);
        // The averages are over the processors measured this tick, not over every processor
        // the machine could have.
        slot.values[0] = sumUser / static_cast<float>(summed);
        slot.values[1] = sumSystem / static_cast<float>(summed);
        slot.values[2] = sumNice / static_cast<float>(summed);
    } else {
        // Nothing was measured: an empty sample, not one of zeros.
        livesample::pushEmpty(*this);
    }
    // Counting tasks walks /proc: done each tick only while clients ask for the counts.
    if (platform::Clock::monotonic() - countsAsked_ < kCountsKeptFor) updateProcessInfo();
    livesample::finish(*this);
}

}  // namespace telvo
