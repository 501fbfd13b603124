#pragma once
// ProcessStatCollector: the table of every running process with the measurements the clients'
// process lists need (CPU, memory, disk reads and writes per second, and a power score that
// the daemon never asks for), taken only while some client wants a list and only for what is
// wanted. It keeps no history and has no clock of its own: the controller runs one pass a
// second while a list is wanted. The lists and their wire form (stat type "processes") are in
// ProcessStatCollectorSharing.cpp and ProcessStatCollectorXML.cpp. Its records are
// ProcessStatCollectorItem, never framework items; the framework's item list stays empty.
// Everything runs on the main queue.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "collectors/framework/StatCollector.h"
#include "collectors/system/ProcessStatCollectorItem.h"
#include "platform/host/ProcessSource.h"

namespace telvo {

class ProcessStatCollector : public StatCollector {
public:
    // Bits of updateMask.
    static constexpr int64_t kMaskCPU = 1;
    static constexpr int64_t kMaskMemory = 2;
    static constexpr int64_t kMaskDisk = 4;
    static constexpr int64_t kMaskNetwork = 8;
    static constexpr int64_t kMaskPower = 16;

    // The process-wide instance, made on first use.
    static std::shared_ptr<ProcessStatCollector> sharedProcesses();
    static void cleanupShared();
    static void resetForTesting() { cleanupShared(); }

    ProcessStatCollector();

    static std::string statTypeName() { return "processes"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "ProcessStatCollector"; }

    // ---- Passes
    // One pass (updateStats).
    void update();
    // One pass: nothing while disabled; otherwise every record is marked missing, the
    // processes are listed and measured as the mask says, and the records of processes no
    // longer seen are dropped (childrenChanged then YES).
    void updateStats() override;
    // Every non-zombie process as {"pid": number, "name": short name}, in pid order; a name
    // that is not valid UTF-8 leaves its process out. Empty when /proc cannot be listed.
    // Independent of `enabled` and of the table.
    ValueArray processList();

    // ---- The table
    const std::vector<ProcessStatCollectorItemPtr>& processes() const { return processes_; }
    std::vector<ProcessStatCollectorItemPtr>& mutableProcesses() {
        forgetMadeLists();
        return processes_;
    }
    // The first record with that pid (a linear search).
    ProcessStatCollectorItemPtr processForPid(int32_t pid) const;
    // A new record with that pid and sequence 0, appended to the table.
    ProcessStatCollectorItemPtr createProcessWithPid(int32_t pid);
    // Where the processes are read; tests hand in a source of their own.
    void setSourceForTesting(std::unique_ptr<host::ProcessSource> source) { source_ = std::move(source); }
    // The full name behind a cut short name (see host::ProcessSource::fullName), cut to
    // host::ProcessSource::kMaximumNameLength bytes on a character boundary.
    std::string nameForPid(int32_t pid, const std::string& defaultName);
    void fetchProcesses();
    void invalidateProcesses();
    void removeMissingProcesses();
    void clearBandwidth();
    void clearDiskActivity();
    void disable() { setEnabled(false); }
    // The process tree as text, one line per process, five blanks per level (discarded by
    // the code that has it built; offered for inspection).
    std::string showHierarchy() const;
    void showHierarchyForProcess(const ProcessStatCollectorItem& process, int level, std::string& text) const;
    bool isProcessExcludedFromHierarchy(const ProcessStatCollectorItem& process) const;
    bool isParentLaunchd(const ProcessStatCollectorItem& process) const;

    // ---- Lists (ProcessStatCollectorSharing.cpp). Each answers a dictionary with its lists
    // and its "type" (the list's mask bit as text); `hierarchy` says whether totals include
    // child processes.
    Value cpuProcesses(bool hierarchy);
    Value memoryProcesses(bool hierarchy);
    Value diskActivityProcesses2(bool hierarchy);
    Value networkProcesses2(bool hierarchy);
    Value powerProcesses(bool hierarchy);
    // The older forms: one list whose entries carry both values of the pair and no "t".
    Value diskActivityProcesses(bool hierarchy);
    Value networkProcesses(bool hierarchy);
    std::vector<ProcessStatCollectorItemPtr>& sharingStorage(bool hierarchy);
    std::string sharingNameForProcess(const ProcessStatCollectorItem& process) const;

    // ---- Wire form (ProcessStatCollectorXML.cpp)
    // The entries of every list that the "keys" attribute names, in its order, each list
    // once; within one reply, each list once per sample level.
    ValueArray xmlSampleItemsFromAttributes(const Value& attributes) override;
    std::vector<StatNodePtr> xmlNodesFromAttributes(const Value& attributes) override;
    bool xmlSamplesInBaseForm() const override { return false; }
    // Client side, never used by the daemon: a request element for the lists named by the
    // selection key (null when it is empty); one received entry read into a record; every
    // record's values set to 0 before a reply is read.
    StatNodePtr xmlRequestFromAttributes(const Value& attributes) const;
    ProcessStatCollectorItemPtr xmlItemFromAttributes(const Value& entry);
    void xmlMarkItemsAsMissing();

    // ---- Fields
    int64_t updateMask() const { return updateMask_; }
    void setUpdateMask(int64_t v) { updateMask_ = v; }
    int8_t sharingProcessCPUCount() const { return sharingProcessCPUCount_; }
    void setSharingProcessCPUCount(int8_t v) { sharingProcessCPUCount_ = v; }
    int8_t sharingProcessMemoryCount() const { return sharingProcessMemoryCount_; }
    void setSharingProcessMemoryCount(int8_t v) { sharingProcessMemoryCount_ = v; }
    int8_t sharingProcessNetworkCount() const { return sharingProcessNetworkCount_; }
    void setSharingProcessNetworkCount(int8_t v) { sharingProcessNetworkCount_ = v; }
    int8_t sharingProcessDiskActivityCount() const { return sharingProcessDiskActivityCount_; }
    void setSharingProcessDiskActivityCount(int8_t v) { sharingProcessDiskActivityCount_ = v; }
    int8_t sharingProcessPowerCount() const { return sharingProcessPowerCount_; }
    void setSharingProcessPowerCount(int8_t v) { sharingProcessPowerCount_ = v; }
    bool sharingUseHeirachy() const { return sharingUseHeirachy_; }
    void setSharingUseHeirachy(bool v) { sharingUseHeirachy_ = v; }
    bool sequenceBasedUpdating() const { return sequenceBasedUpdating_; }
    void setSequenceBasedUpdating(bool v) { sequenceBasedUpdating_ = v; }
    std::vector<ProcessStatCollectorItemPtr>& hierachy() {
        forgetMadeLists();
        return hierachy_;
    }

private:
    // One process of a pass: found or made, then measured as the mask says.
    // `readAt` is the monotonic time at which its stat record was read.
    void updateProcess(const host::ProcessStat& stat, double now, double readAt);
    ProcessStatCollectorItemPtr newRecord(const host::ProcessStat& stat);
    // A list of the records sorted by `compare`, at most `limit` entries made by `entry`.
    template <class Compare, class Entry>
    ValueArray rankedList(std::vector<ProcessStatCollectorItemPtr>& records, Compare compare, int limit, bool hierarchy,
                          Entry entry);

    std::vector<ProcessStatCollectorItemPtr> processes_;
    std::vector<ProcessStatCollectorItemPtr> hierachy_;
    int64_t updateMask_ = 0;
    int8_t sharingProcessCPUCount_ = 0;
    int8_t sharingProcessMemoryCount_ = 0;
    int8_t sharingProcessNetworkCount_ = 0;
    int8_t sharingProcessDiskActivityCount_ = 0;
    int8_t sharingProcessPowerCount_ = 0;
    bool sharingUseHeirachy_ = false;
    bool sequenceBasedUpdating_ = false;

    // Kept between passes: the reader's buffers, the pid listing, the record of each pid.
    std::unique_ptr<host::ProcessSource> source_ = std::make_unique<host::ProcessSource>();
    std::vector<int32_t> pids_;
    host::ProcessStat stat_;
    std::unordered_map<int32_t, ProcessStatCollectorItem*> byPid_;
    // The entries of each list a request can name (cpu, memory, network, disks), made since
    // the last pass with these counts: every client asking within a second gets the same
    // lists, sorted once.
    const ValueArray& madeList(size_t which);
    void forgetMadeLists() {
        for (auto& made : madeLists_) made.reset();
    }
    std::array<std::optional<ValueArray>, 4> madeLists_;
    std::array<int8_t, 5> madeCounts_{};
    // While a reply is made: the lists it holds already, by sample level.
    bool replying_ = false;
    std::unordered_set<std::string> sentInReply_;
};

}  // namespace telvo
