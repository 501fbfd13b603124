#pragma once
// The collectors the daemon prepares, starts and serves, with the few operations of their own
// classes that the controller and the sessions call. A collector that does not exist in this
// build stays null and its start-up steps are skipped (only their log lines remain).
#include <cstdint>
#include <functional>
#include <string>
#include "collectors/framework/StatCollector.h"

namespace telvo {

struct DaemonCollectors {
    StatCollectorPtr cpu, load, memory, sensors, network, diskActivity, disks, battery, uptime;
    StatCollectorPtr raid, coreStorage, softRaid, smart, diskInfo, serverInfo;

    // The network collector's bandwidth file and accounting.
    std::function<void(const std::string&)> setBandwidthDatabasePath;
    std::function<void(bool)> setBandwidthMonitoringEnabled;
    std::function<bool()> prepareBandwidthDatabase;
    std::function<void()> prepareBandwidthMonitoring;
    std::function<void()> saveBandwidth;
    // Sensors discovery, boot time, SMART drives, disk information.
    std::function<void()> loadSensors;
    std::function<void()> loadUptime;
    std::function<void()> loadSMARTDisks;
    std::function<void()> listenForDiskChanges;
    std::function<void()> fetchDiskInfo;

    // The process collector and its lists (bits 1 cpu, 2 memory, 4 disks, 8 network, 16 power).
    StatCollectorPtr processes;
    std::function<uint64_t()> processUpdateMask;
    std::function<void(uint64_t)> setProcessUpdateMask;
    std::function<void()> updateProcesses;
    // Top-list sizes: cpu, memory, network, disk activity, power.
    std::function<void(int, int, int, int, int)> setProcessSharingCounts;

    // The machine's model identifier and operating-system version ("%d.%d.%d").
    std::function<std::string()> modelIdentifier;
    std::function<std::string()> osVersion;
};

// The collectors of this build, created in the order the controller needs them (the network
// collector first). Each collector of the code base adds itself here.
DaemonCollectors makeDaemonCollectors();

}  // namespace telvo
