#pragma once
// CPUStatCollector: the share of processor time spent in user, system and nice state,
// averaged over the logical processors, with the machine's task and thread counts; served as
// stat type "cpu" (storage type 1, tables "<level>cpuhistory"). The sampling is the platform
// class's (CPUStatCollectorMac).
#include <atomic>
#include <cstdint>
#include <string>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class CPUStatCollector : public StatCollector {
public:
    CPUStatCollector();
    // user, system, nice, io, ent, phys (percent); only the first three are measured.
    static int64_t sampleCount() { return 6; }

    static std::string statTypeName() { return "cpu"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "CPUStatCollector"; }
    // The framework's attributes, then "tasks" and "threads".
    void xmlPrepareStatNode(StatNode& node) override;

    int taskCount() const { return taskCount_; }
    void setTaskCount(int v) { taskCount_ = v; }
    int threadCount() const { return threadCount_; }
    void setThreadCount(int v) { threadCount_ = v; }
    bool hyperThreading() const { return hyperThreading_; }
    void setHyperThreading(bool v) { hyperThreading_ = v; }
    int64_t coreCount() const { return coreCount_; }
    void setCoreCount(int64_t v) { coreCount_ = v; }

private:
    // Written by the sampling tick, read by replies that may be built on another queue.
    std::atomic<int> taskCount_{0};
    std::atomic<int> threadCount_{0};
    bool hyperThreading_ = false;
    int64_t coreCount_ = 0;
};

}  // namespace telvo
