#include "daemon/Controller.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "foundation/ControlChannel.h"
#include "foundation/ServerLog.h"
#include "daemon/ReplyCache.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "daemon/portmapping/PortMappingManager.h"
#include "history/FMDatabase.h"
#include "history/HistoryDatabaseController.h"
#include "platform/dispatch/Queue.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

std::mutex gInstanceMutex;
std::unique_ptr<Controller> gInstance;
// Delayed update passes of a controller that was reset do nothing.
std::atomic<uint64_t> gGeneration{0};

bool dropTableIfPresent(const HistoryDatabaseItemPtr& item, const char* table) {
    bool dropped = false;
    if (!item) return false;
    item->queryDatabase([&](const FMDatabasePtr& db) {
        if (db && db->tableExists(table)) dropped = db->executeUpdate(std::string("DROP TABLE ") + table) || true;
    });
    return dropped;
}

bool isValid(const std::string& path) {
    HistoryDatabaseItemPtr item = databaseItemWithPath(path);
    bool valid = false;
    if (item) item->queryDatabase([&](const FMDatabasePtr& db) { valid = db && db->isDatabaseValid(); });
    return valid;
}

}  // namespace

Controller& Controller::sharedController() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance.reset(new Controller());
    return *gInstance;
}

void Controller::resetForTesting() {
    std::lock_guard lock(gInstanceMutex);
    ++gGeneration;
    gInstance.reset();
}

void Controller::setCollectorsForTesting(DaemonCollectors collectors) {
    collectors_ = std::move(collectors);
    collectorsGiven_ = true;
}

void Controller::prepare() {
    DLog("Telvo Server Daemon version %.2f (%i)", 3.03, 270);
    TVSKeychain::sharedKeychain();
    TVSPreferences& preferences = TVSPreferences::sharedPreferences();
    if (preferences.objectForKey("Upgrade-2.3").isNull()) {
        preferences.upgradePasscode();
        preferences.setObject(Value(true), "Upgrade-2.3");
    }
    preferences.verifyPasscode();
}

void Controller::start() {
    DaemonCollectors& c = collectors_;
    // 1. The network collector comes first of all, then the server manager.
    if (!collectorsGiven_) c = makeDaemonCollectors();
    ServerManager::sharedServerManager();

    // 2. History files.
    DLog("loading databases");
    // The installation makes this folder; a fresh root has none yet.
    fs::createDirectories("/Library/Application Support/Telvo Server/databases", 0755);
    HistoryDatabaseController& files = HistoryDatabaseController::sharedHistoryDatabaseController();
    databaseWithPath(std::string(kLocalDatabasePath));
    HistoryDatabaseItemPtr longTerm = databaseItemWithPath(std::string(kLongTermDatabasePath));

    // 3. Obsolete long-term sensor tables.
    bool droppedID = dropTableIfPresent(longTerm, "sensoridhistory");
    bool dropped = dropTableIfPresent(longTerm, "sensorhistory");
    bool schemaChanged = false;
    if (droppedID || dropped) {
        longTerm->queryDatabase([](const FMDatabasePtr& db) {
            if (db) db->executeUpdate("VACUUM");
        });
        schemaChanged = true;
    }

    // 4. Integrity.
    DLog("verifying main database");
    if (!isValid(kLocalDatabasePath)) {
        DLog("main database is invalid");
        files.deleteDatabase(kLocalDatabasePath);
        databaseWithPath(std::string(kLocalDatabasePath));
    }
    DLog("verifying long database");
    if (!isValid(kLongTermDatabasePath)) {
        DLog("long term database is invalid");
        files.deleteDatabase(kLongTermDatabasePath);
        databaseWithPath(std::string(kLongTermDatabasePath));
    }

    // 5. History tables of each collector.
    DLog("loading stat modules");
    auto prepare = [&](const char* line, const StatCollectorPtr& collector, bool longTermToo,
                       const std::function<void()>& before = nullptr, const std::function<void()>& after = nullptr) {
        DLog("%@", line);
        if (!collector) return;
        collector->setDbpath(kLocalDatabasePath);
        if (longTermToo) collector->setDbpathLong(kLongTermDatabasePath);
        if (before) before();
        schemaChanged = collector->prepareDatabase(schemaChanged);
        if (after) after();
    };
    prepare("preparing cpu", c.cpu, true);
    prepare("preparing load", c.load, true);
    prepare("preparing memory", c.memory, true);
    prepare("preparing sensors", c.sensors, false);
    prepare(
        "preparing network", c.network, true,
        [&] {
            if (c.setBandwidthDatabasePath) c.setBandwidthDatabasePath(kBandwidthDatabasePath);
            if (c.setBandwidthMonitoringEnabled) c.setBandwidthMonitoringEnabled(true);
        },
        [&] {
            if (c.prepareBandwidthDatabase) c.prepareBandwidthDatabase();
            if (c.prepareBandwidthMonitoring) c.prepareBandwidthMonitoring();
        });
    prepare("preparing disk activity", c.diskActivity, true);
    prepare("preparing disks", c.disks, true);
    prepare("preparing battery", c.battery, true);
    prepare("preparing uptime", c.uptime, true);

    // 6. Reopen after a schema change.
    reopenedDatabases_ = schemaChanged;
    if (schemaChanged) {
        DLog("schema changed. reloading databases");
        files.closeDatabase(kLocalDatabasePath);
        files.closeDatabase(kLongTermDatabasePath);
        databaseWithPath(std::string(kLocalDatabasePath));
        databaseWithPath(std::string(kLongTermDatabasePath));
    }

    // 7. Stored history.
    DLog("finished preparing");
    auto load = [&](const char* line, const StatCollectorPtr& collector, const std::function<void()>& before = nullptr) {
        DLog("%@", line);
        if (before) before();
        if (!collector) return;
        collector->loadPreviousSamples();
        collector->fillGaps();
    };
    load("loading cpu", c.cpu);
    load("loading load avg", c.load);
    load("loading memory", c.memory);
    load("loading sensors", c.sensors, [&] {
        if (c.sensors && c.loadSensors) c.loadSensors();
    });
    load("loading network", c.network);
    load("loading disk activity", c.diskActivity);
    load("loading disks", c.disks);
    load("loading battery", c.battery);
    DLog("loading uptime");
    if (c.loadUptime) c.loadUptime();

    // 8. The remaining collectors exist once makeDaemonCollectors made them.
    DLog("loading raid");
    DLog("loading core storage");
    DLog("loading SoftRAID");
    DLog("loading SMART");
    if (c.loadSMARTDisks) c.loadSMARTDisks();
    DLog("loading server info");

    // 9. Ticks.
    DLog("starting logging");
    for (const StatCollectorPtr& collector : {c.cpu, c.load, c.memory, c.sensors, c.network, c.diskActivity, c.disks,
                                              c.smart, c.battery, c.raid, c.softRaid})
        if (collector) collector->startLogging();

    // 10. Process lists: shared on request only.
    if (c.processes) {
        if (c.setProcessSharingCounts) c.setProcessSharingCounts(20, 20, 20, 20, 0);
        c.processes->setEnabled(false);
    }
    DLog("finished loading stat modules");

    // 12. The start block is the main queue's first work item.
    uint64_t generation = gGeneration;
    dispatch::Queue::main()->async([generation] {
        if (generation == gGeneration) Controller::sharedController().startBlock();
    });
    // 13. There is no window server connection to cut here.
}

void Controller::startBlock() {
    DaemonCollectors& c = collectors_;
    DLog("run databases queues");
    for (const StatCollectorPtr& collector : {c.cpu, c.load, c.memory, c.sensors, c.network, c.diskActivity, c.disks})
        if (collector) collector->runDatabaseQueue();

    DLog("loading disk info");
    if (c.listenForDiskChanges) c.listenForDiskChanges();
    if (c.fetchDiskInfo) c.fetchDiskInfo();

    DLog("opening socket");
    ServerManager& server = ServerManager::sharedServerManager();
    server.startListening();

    auto& served = server.statCollectors();
    for (const StatCollectorPtr& collector :
         {c.cpu, c.load, c.memory, c.network, c.disks, c.sensors, c.diskActivity, c.uptime, c.smart, c.diskInfo, c.raid,
          c.coreStorage, c.processes, c.softRaid, c.battery})
        if (collector) served.push_back(collector);

    DLog("starting port mapping");
    PortMappingManager::sharedPortMappingManager().map();

    update();
    notify::DistributedNotificationCenter::defaultCenter().postNotification(channel::kBackendReady);
}

void Controller::update() {
    // 1. The next pass first.
    uint64_t generation = gGeneration;
    dispatch::Queue::main()->after(1.0, [generation] {
        if (generation == gGeneration) Controller::sharedController().update();
    });
    const DaemonCollectors& c = collectors_;
    uint64_t mask = c.processUpdateMask ? c.processUpdateMask() : 0;
    if (!c.processes || (!c.processes->enabled() && mask == 0)) {
        // Nothing sampled or changed: replies shared by the clients stay as they are.
        ReplyCache::shared().blockChangesNothing();
        return;
    }
    double now = platform::Clock::now();
    auto setMask = [&](uint64_t m) {
        mask = m;
        if (c.setProcessUpdateMask) c.setProcessUpdateMask(m);
    };
    if (c.processes->enabled()) {
        struct List {
            uint64_t bit;
            double last;
            const char* line;
        } lists[] = {{1, lastCPUProcessRequest_, "removing cpu"},
                     {2, lastMemoryProcessRequest_, "removing mem"},
                     {4, lastDiskProcessRequest_, "removing disk"},
                     {8, lastNetworkProcessRequest_, "removing net"}};
        for (const auto& list : lists) {
            if ((mask & list.bit) && now > list.last + kProcessListLifetime) {
                setMask(mask & ~list.bit);
                DLog("%@", list.line);
            }
        }
        if (mask == 0) {
            DLog("disabling processes");
            c.processes->setEnabled(false);
            setMask(0);
        }
    }
    if (mask > 0) {
        uint64_t remembered = mask;
        if ((mask & 16) && !(mask & 1)) setMask(remembered + 1);
        if (c.updateProcesses) c.updateProcesses();
        setMask(remembered);
    }
}

void Controller::addProcessMask(uint64_t bit) {
    const DaemonCollectors& c = collectors_;
    uint64_t mask = c.processUpdateMask ? c.processUpdateMask() : 0;
    if (!(mask & bit)) {
        if (c.setProcessUpdateMask) c.setProcessUpdateMask(mask | bit);
        DLog("adding process mask %li", long(bit));
    }
}

void Controller::processRequest(const std::string& lists) {
    double now = platform::Clock::now();
    size_t start = 0;
    while (start <= lists.size()) {
        size_t comma = lists.find(',', start);
        std::string piece = lists.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (piece == "cpu") {
            addProcessMask(1);
            lastCPUProcessRequest_ = now;
        } else if (piece == "memory") {
            addProcessMask(2);
            lastMemoryProcessRequest_ = now;
        } else if (piece == "disks") {
            addProcessMask(4);
            lastDiskProcessRequest_ = now;
        } else if (piece == "network") {
            addProcessMask(8);
            lastNetworkProcessRequest_ = now;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    const StatCollectorPtr& processes = collectors_.processes;
    if (!lists.empty() && processes && !processes->enabled()) {
        processes->setEnabled(true);
        DLog("starting processes");
    }
}

void Controller::finalizeDatabase() {
    // Every open history file is committed, not local.db alone: the long-term rows queued
    // since the last commit would otherwise be lost at every stop.
    HistoryDatabaseController& files = HistoryDatabaseController::sharedHistoryDatabaseController();
    if (!files.commitAllSync()) {
        // A file that still cannot be written (a full disk) loses what waited: say so.
        for (const std::string& path : files.openPaths()) {
            HistoryDatabaseItemPtr item = databaseItemWithPath(path);
            size_t lost = item ? item->queries().size() : 0;
            if (lost > 0) DLog("%@ cannot be written at the stop; %ld writes are lost", path, long(lost));
        }
    }
    if (collectors_.saveBandwidth) collectors_.saveBandwidth();
    // Settings and passwords whose last write failed get their last chance.
    if (!TVSPreferences::sharedPreferences().flush())
        DLog("Preferences file %@ cannot be written at the stop; the last changes are lost", TVSPreferences::kPath);
    if (!TVSKeychain::sharedKeychain().flushPendingWrites())
        DLog("Keychain %@ cannot be written at the stop; the values kept in memory are lost", TVSKeychain::kKeychainPath);
}

}  // namespace telvo
