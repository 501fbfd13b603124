#pragma once
// The daemon's spine: prepares the passcode and keychain, opens and verifies the history
// files, prepares, loads and starts every collector, starts listening, registers the served
// collectors, runs the one-second update loop that keeps the on-demand process lists alive,
// and flushes the history on SIGTERM. Runs on the main thread and the main queue.
#include <cstdint>
#include <string>
#include "daemon/DaemonCollectors.h"

namespace telvo {

class Controller {
public:
    static constexpr const char* kLocalDatabasePath = "/Library/Application Support/Telvo Server/databases/local.db";
    static constexpr const char* kLongTermDatabasePath = "/Library/Application Support/Telvo Server/databases/longterm.db";
    static constexpr const char* kBandwidthDatabasePath = "/Library/Application Support/Telvo Server/databases/bandwidth.db";
    static constexpr const char* kLogPath = "/Library/Logs/TelvoServer.log";
    static constexpr double kProcessListLifetime = 15.0;

    static Controller& sharedController();
    static void resetForTesting();

    void prepare();
    // Start-up of storage, collectors and server; queues the start block on the main queue.
    void start();
    // The first work item of the main queue: database queues, disk information, listening,
    // served collectors, port mapping, the update loop and "TelvoServer2BackendReady".
    void startBlock();
    void update();
    void processRequest(const std::string& lists);
    void addProcessMask(uint64_t bit);
    void finalizeDatabase();

    double lastCPUProcessRequest() const { return lastCPUProcessRequest_; }
    double lastMemoryProcessRequest() const { return lastMemoryProcessRequest_; }
    double lastDiskProcessRequest() const { return lastDiskProcessRequest_; }
    double lastNetworkProcessRequest() const { return lastNetworkProcessRequest_; }

    DaemonCollectors& collectors() { return collectors_; }
    // Tests hand in their own collectors; start() then uses these instead of the build's.
    void setCollectorsForTesting(DaemonCollectors collectors);
    // Whether the last start found a schema change and reopened the history files.
    bool reopenedDatabases() const { return reopenedDatabases_; }

private:
    Controller() = default;

    DaemonCollectors collectors_;
    bool collectorsGiven_ = false;
    bool reopenedDatabases_ = false;
    bool updateArmed_ = false;
    double lastCPUProcessRequest_ = 0;
    double lastMemoryProcessRequest_ = 0;
    double lastDiskProcessRequest_ = 0;
    double lastNetworkProcessRequest_ = 0;
};

}  // namespace telvo
