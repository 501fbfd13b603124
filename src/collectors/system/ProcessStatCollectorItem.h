#pragma once
// ProcessStatCollectorItem: one running process in the process collector's table, with the
// raw counters kept from one pass to the next, the rates derived from them (CPU, memory, disk
// reads and writes, power score), the totals the process lists are sorted by and the
// comparators that sort them. It is deliberately not a framework item: a framework item
// carries nine levels of sample slots, far too much for hundreds of processes that keep no
// history.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/values/Value.h"

namespace telvo {

class ProcessStatCollectorItem;
using ProcessStatCollectorItemPtr = std::shared_ptr<ProcessStatCollectorItem>;

class ProcessStatCollectorItem {
public:
    // The three-way order of the comparators: this record before the other (ascending), the
    // same, or after it.
    static constexpr int kOrderedAscending = -1;
    static constexpr int kOrderedSame = 0;
    static constexpr int kOrderedDescending = 1;
    static constexpr size_t kPowerHistoryLength = 300;

    ProcessStatCollectorItem() = default;
    explicit ProcessStatCollectorItem(int32_t pid) : pid_(pid) {}

    // ---- Measurements (ProcessStatCollectorItemUpdating.cpp). The collector sets updateTime
    // and updateMonotonic first (updateMonotonic is the moment the process's own counters
    // were read); every interval is measured on the monotonic clock, every time stored for
    // clients is wall time.
    // `cpuSeconds` is the processor time the process has used so far, `threads` its number
    // of threads now: the use is at most 100 % per thread it had at either reading (the
    // counters come in whole clock ticks, which may add a tick to an interval).
    void updateCPU(double cpuSeconds, uint32_t threads = 1);
    // `read` false: the process's memory could not be read (0).
    void updateMemory(bool read, double bytes);
    // The cumulative bytes read and written; `read` false changes nothing.
    void updateDiskActivity(bool read, double bytesRead, double bytesWritten);
    // The energy score of the last interval from the CPU time of the last CPU measurement and
    // the package idle wake-ups (which nothing here measures, so they stay as they are).
    void updatePower();
    void updatePowerUsageAverage();

    // ---- Totals: the record's own values, plus its children's when `includeChildren`.
    double totalCPUUsage(bool includeChildren = false) const;
    double totalMemoryUsage(bool includeChildren = false) const;
    double totalNetworkDownload(bool includeChildren = false) const;
    double totalNetworkUpload(bool includeChildren = false) const;
    double totalDiskRead(bool includeChildren = false) const;
    double totalDiskWrite(bool includeChildren = false) const;
    double totalPowerUsage(bool includeChildren = false) const;
    void updateTotalCPUUsage(bool includeChildren = false);
    void updateTotalMemoryUsage(bool includeChildren = false);
    void updateTotalNetworkUsage(bool includeChildren = false);
    void updateTotalDiskUsage(bool includeChildren = false);
    void updateTotalPowerUsage(bool includeChildren = false);

    // ---- Comparators: larger sort keys first. The disk and network ones order two records
    // whose totals are both 0 by their last activity, most recent first.
    int sortCPU(const ProcessStatCollectorItem& other) const;
    int sortMemory(const ProcessStatCollectorItem& other) const;
    int sortPower(const ProcessStatCollectorItem& other) const;
    int sortNetworkDownload(const ProcessStatCollectorItem& other) const;
    int sortNetworkUpload(const ProcessStatCollectorItem& other) const;
    int sortDiskRead(const ProcessStatCollectorItem& other) const;
    int sortDiskWrite(const ProcessStatCollectorItem& other) const;

    // "pid = %i, name = %@, seq = %li, memory = %.0f, cpu = %.2f, rx = %.2f, tx = %.2f".
    std::string description() const;

    // ---- Children (never filled by the daemon).
    std::vector<ProcessStatCollectorItemPtr>& children() { return children_; }
    const std::vector<ProcessStatCollectorItemPtr>& children() const { return children_; }
    // Depth first: a child with the pid, else the first match inside a child.
    ProcessStatCollectorItemPtr processForPid(int32_t pid) const;
    int64_t processCount() const;
    void invalidateProcesses();
    void removeMissingProcesses();

    // ---- Fields
    int32_t pid() const { return pid_; }
    void setPid(int32_t v) { pid_ = v; }
    int32_t parentPid() const { return parentPid_; }
    void setParentPid(int32_t v) { parentPid_ = v; }
    const std::string& name() const { return name_; }
    void setName(std::string v) { name_ = std::move(v); }
    uint64_t startTime() const { return startTime_; }
    void setStartTime(uint64_t v) { startTime_ = v; }
    bool exists() const { return exists_; }
    void setExists(bool v) { exists_ = v; }
    int64_t sequence() const { return sequence_; }
    void setSequence(int64_t v) { sequence_ = v; }
    double updateTime() const { return updateTime_; }
    void setUpdateTime(double v) { updateTime_ = v; }
    double updateMonotonic() const { return updateMonotonic_; }
    void setUpdateMonotonic(double v) { updateMonotonic_ = v; }
    double updateTimePrevious() const { return updateTimePrevious_; }
    void setUpdateTimePrevious(double v) { updateTimePrevious_ = v; }
    bool isLaunchd() const { return isLaunchd_; }
    void setIsLaunchd(bool v) { isLaunchd_ = v; }
    bool foreground() const { return foreground_; }
    void setForeground(bool v) { foreground_ = v; }
    double cpuTime() const { return cpuTime_; }
    double cpuPreviousTime() const { return cpuPreviousTime_; }
    double lastUpdateCPU() const { return lastUpdateCPU_; }
    double cpu() const { return cpu_; }
    void setCpu(double v) { cpu_ = v; }
    double memory() const { return memory_; }
    void setMemory(double v) { memory_ = v; }
    bool diskEnabled() const { return diskEnabled_; }
    void setDiskEnabled(bool v) { diskEnabled_ = v; }
    double diskReadTotal() const { return diskReadTotal_; }
    double diskWriteTotal() const { return diskWriteTotal_; }
    double diskRead() const { return diskRead_; }
    void setDiskRead(double v) { diskRead_ = v; }
    double diskWrite() const { return diskWrite_; }
    void setDiskWrite(double v) { diskWrite_ = v; }
    double diskReadTime() const { return diskReadTime_; }
    void setDiskReadTime(double v) { diskReadTime_ = v; }
    double diskWriteTime() const { return diskWriteTime_; }
    void setDiskWriteTime(double v) { diskWriteTime_ = v; }
    double diskUpdateTime() const { return diskUpdateTime_; }
    double networkDownload() const { return networkDownload_; }
    void setNetworkDownload(double v) { networkDownload_ = v; }
    double networkUpload() const { return networkUpload_; }
    void setNetworkUpload(double v) { networkUpload_ = v; }
    double networkDownloadTime() const { return networkDownloadTime_; }
    void setNetworkDownloadTime(double v) { networkDownloadTime_ = v; }
    double networkUploadTime() const { return networkUploadTime_; }
    void setNetworkUploadTime(double v) { networkUploadTime_ = v; }
    double power() const { return power_; }
    void setPower(double v) { power_ = v; }
    double powerScore() const { return powerScore_; }
    double powerTime() const { return powerTime_; }
    double powerPreviousTime() const { return powerPreviousTime_; }
    double idleWakeups() const { return idleWakeups_; }
    double idleWakeupsPrevious() const { return idleWakeupsPrevious_; }

    double sharingTotalCPU() const { return sharingTotalCPU_; }
    double sharingTotalMemory() const { return sharingTotalMemory_; }
    double sharingTotalDownload() const { return sharingTotalDownload_; }
    double sharingTotalUpload() const { return sharingTotalUpload_; }
    double sharingTotalRead() const { return sharingTotalRead_; }
    double sharingTotalWrite() const { return sharingTotalWrite_; }
    double sharingTotalPower() const { return sharingTotalPower_; }
    bool sharingUseHierachy() const { return sharingUseHierachy_; }
    void setSharingUseHierachy(bool v) { sharingUseHierachy_ = v; }

    // Kept for other users of the class; the daemon never sets them.
    int32_t controllingPid() const { return controllingPid_; }
    void setControllingPid(int32_t v) { controllingPid_ = v; }
    bool isSafariWebContent() const { return isSafariWebContent_; }
    void setIsSafariWebContent(bool v) { isSafariWebContent_ = v; }
    const std::vector<std::string>& safariURLS() const { return safariURLS_; }
    void setSafariURLS(std::vector<std::string> v) { safariURLS_ = std::move(v); }
    const std::string& bundleLocation() const { return bundleLocation_; }
    void setBundleLocation(std::string v) { bundleLocation_ = std::move(v); }
    const std::string& key() const { return key_; }
    void setKey(std::string v) { key_ = std::move(v); }
    const Value& config() const { return config_; }
    void setConfig(Value v) { config_ = std::move(v); }
    bool temporary() const { return temporary_; }
    void setTemporary(bool v) { temporary_ = v; }

    // One entry of the power history, newest first.
    struct PowerSample {
        double score = 0;
        double time = 0;
        int64_t empty = 1;
    };
    // Entry `i` (0 newest) of the 300; an empty entry before the first measurement.
    PowerSample powerHistory(size_t i) const;

private:
    int32_t pid_ = 0;
    int32_t parentPid_ = -1;
    std::string name_;
    uint64_t startTime_ = 0;
    bool exists_ = false;
    int64_t sequence_ = 0;
    double updateTime_ = 0;
    double updateMonotonic_ = 0;
    double updateTimePrevious_ = 0;
    bool isLaunchd_ = false;
    bool foreground_ = false;

    double cpuTime_ = 0;
    double cpuPreviousTime_ = 0;
    double lastUpdateCPU_ = 0;
    double lastUpdateCPUMonotonic_ = 0;
    bool cpuMeasured_ = false;
    uint32_t cpuThreads_ = 1;
    double cpu_ = 0;
    double memory_ = 0;

    bool diskEnabled_ = false;
    double diskReadTotal_ = 0;
    double diskWriteTotal_ = 0;
    double diskRead_ = 0;
    double diskWrite_ = 0;
    double diskReadTime_ = 0;
    double diskWriteTime_ = 0;
    double diskUpdateTime_ = 0;
    double diskUpdateMonotonic_ = 0;
    bool diskBaseline_ = false;  // a reading is stored in the totals

    double networkDownload_ = 0;
    double networkUpload_ = 0;
    double networkDownloadTime_ = 0;
    double networkUploadTime_ = 0;

    double power_ = 0;
    double powerScore_ = 0;
    double powerTime_ = 0;
    double powerPreviousTime_ = 0;
    double idleWakeups_ = 0;
    double idleWakeupsPrevious_ = 0;
    // Made on the first power measurement: a ring of kPowerHistoryLength, newest at head.
    std::unique_ptr<std::array<PowerSample, kPowerHistoryLength>> powerHistory_;
    size_t powerHead_ = 0;

    double sharingTotalCPU_ = 0;
    double sharingTotalMemory_ = 0;
    double sharingTotalDownload_ = 0;
    double sharingTotalUpload_ = 0;
    double sharingTotalRead_ = 0;
    double sharingTotalWrite_ = 0;
    double sharingTotalPower_ = 0;
    bool sharingUseHierachy_ = true;

    std::vector<ProcessStatCollectorItemPtr> children_;
    int32_t controllingPid_ = -1;
    bool isSafariWebContent_ = false;
    std::vector<std::string> safariURLS_;
    std::string bundleLocation_;
    std::string key_;
    Value config_ = Value(ValueDictionary{});
    bool temporary_ = false;
};

}  // namespace telvo
