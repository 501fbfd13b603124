// A process record's measurements: CPU, memory, disk activity and power.
#include <algorithm>
#include <cmath>

#include "collectors/system/ProcessStatCollectorItem.h"

namespace telvo {

namespace {
// A rate that cannot be a number (a counter that went backwards, a broken reading) is 0.
double sane(double v) { return std::isfinite(v) && v > 0 ? v : 0; }
}  // namespace

void ProcessStatCollectorItem::updateCPU(double cpuSeconds, uint32_t threads) {
    cpuPreviousTime_ = cpuTime_;
    cpuTime_ = cpuSeconds;
    const uint32_t previousThreads = cpuThreads_;
    cpuThreads_ = std::max<uint32_t>(threads, 1);
    // The first measurement of this process, also when earlier passes measured other things
    // only: it only takes the baseline.
    if (sequence_ == 0 || !cpuMeasured_) {
        cpuPreviousTime_ = cpuTime_;
        lastUpdateCPU_ = updateTime_;
        lastUpdateCPUMonotonic_ = updateMonotonic_;
        cpuMeasured_ = true;
        cpu_ = 0;
        return;
    }
    double interval = updateMonotonic_ - lastUpdateCPUMonotonic_;
    if (interval == 0) interval = 1.0;
    // An interval cannot run backwards on the monotonic clock; should it, there is no rate.
    cpu_ = interval < 0 ? 0 : sane((cpuTime_ - cpuPreviousTime_) / interval * 100.0);
    cpu_ = std::min(cpu_, 100.0 * std::max(previousThreads, cpuThreads_));
    lastUpdateCPU_ = updateTime_;
    lastUpdateCPUMonotonic_ = updateMonotonic_;
}

void ProcessStatCollectorItem::updateMemory(bool read, double bytes) { memory_ = read ? bytes : 0; }

void ProcessStatCollectorItem::updateDiskActivity(bool read, double bytesRead, double bytesWritten) {
    if (!read) return;
    // A fresh baseline when the previous pass did not measure disk activity or no reading has
    // been stored yet. A stored total of 0 is a baseline like any other: a process that had
    // never written and then writes shows that write.
    if (!diskBaseline_ || !diskEnabled_) {
        diskWriteTotal_ = bytesWritten;
        diskReadTotal_ = bytesRead;
    }
    diskBaseline_ = true;
    const double dt = updateMonotonic_ - diskUpdateMonotonic_;
    if (dt > 0) {
        diskRead_ = sane((bytesRead - diskReadTotal_) / dt);
        diskWrite_ = sane((bytesWritten - diskWriteTotal_) / dt);
        if (diskRead_ > 0) diskReadTime_ = updateTime_;
        if (diskWrite_ > 0) diskWriteTime_ = updateTime_;
    }
    diskReadTotal_ = bytesRead;
    diskWriteTotal_ = bytesWritten;
    diskUpdateTime_ = updateTime_;
    diskUpdateMonotonic_ = updateMonotonic_;
}

void ProcessStatCollectorItem::updatePower() {
    // Package idle wake-ups have no source here: idleWakeups keeps its value.
    if (sequence_ == 0) idleWakeupsPrevious_ = idleWakeups_;
    const double wakeups = idleWakeups_ - idleWakeupsPrevious_;
    powerTime_ = updateTime_;
    const double dt = (powerTime_ - powerPreviousTime_) * 1000000.0;
    const double cpu = (cpuTime_ - cpuPreviousTime_) * 1000000.0;
    power_ = dt > 0 ? sane((wakeups * 500.0 + cpu) / dt * 100.0) : 0;

    if (!powerHistory_) powerHistory_ = std::make_unique<std::array<PowerSample, kPowerHistoryLength>>();
    powerHead_ = (powerHead_ + kPowerHistoryLength - 1) % kPowerHistoryLength;  // the oldest falls out
    (*powerHistory_)[powerHead_] = PowerSample{power_, updateTime_, 0};
    idleWakeupsPrevious_ = idleWakeups_;
    powerPreviousTime_ = powerTime_;
    updatePowerUsageAverage();
}

void ProcessStatCollectorItem::updatePowerUsageAverage() {
    double sum = 0;
    int count = 0;
    for (size_t i = 0; i < 30; ++i) {
        const PowerSample s = powerHistory(i);
        if (s.empty || s.time < updateTime_ - 31.0) break;
        if (s.score >= 1.0) {
            sum += s.score;
            ++count;
        }
    }
    powerScore_ = count > 0 ? sum / count : 0;
}

}  // namespace telvo
