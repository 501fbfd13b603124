// Ten-minute bandwidth buckets per interface, stored in bandwidth.db.
#include <algorithm>
#include <cmath>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "history/FMResultSet.h"
#include "history/HistoryDatabaseController.h"
#include "history/HistoryDatabaseItem.h"
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {
constexpr double kThreshold = 102400;  // bytes; a bucket is stored when either direction is above
}

void NetworkStatCollectorMac::prepareBandwidthMonitoring() {
    if (bandwidthDatabasePath().empty()) return;
    databaseItemWithPath(bandwidthDatabasePath())->queryDatabase([&](const FMDatabasePtr& db) {
        FMResultSetPtr rows = db->executeQuery("SELECT * FROM bandwidth_interface_map");
        if (!rows) {
            frameworklog::log("network: cannot read bandwidth_interface_map: " + db->lastErrorMessage());
            return;
        }
        while (rows->next()) {
            Value row = rows->resultDictionary();
            bandwidthInterfaceMap().push_back({row["identifier"].intValue(), row["interface"].stringValue()});
        }
    });
}

namespace {

// On the bandwidth file's queue: the name's identifier in the map table, its row added when
// the name is new; -1 when it can be neither read nor added. Names of interfaces gone for a
// while are no longer in memory, but keep their first identifier in the file.
int64_t identifierInFile(const FMDatabasePtr& db, const std::string& name) {
    if (FMResultSetPtr rows = db->executeQuery(
            "SELECT identifier FROM bandwidth_interface_map WHERE interface = ? ORDER BY identifier LIMIT 1",
            {Value(name)})) {
        int64_t found = rows->next() ? rows->resultDictionary()["identifier"].intValue() : -1;
        rows->close();
        if (found >= 0) return found;
    }
    if (db->executeUpdate("insert into bandwidth_interface_map (interface) values (?)", {Value(name)}))
        return db->lastInsertRowId();
    frameworklog::log("network: cannot add " + name + " to bandwidth_interface_map: " + db->lastErrorMessage());
    return -1;
}

}  // namespace

int64_t NetworkStatCollectorMac::identifierForInterface(const std::string& name) {
    takeIdentifiers();
    for (const auto& entry : bandwidthInterfaceMap())
        if (entry.interface == name) return entry.identifier;
    if (bandwidthDatabasePath().empty()) return -1;
    // The file may be slow (a busy disk): the tick goes on, and the map row is written on the
    // file's queue, before any sample row of the name queued after it.
    if (askedIdentifiers_.insert(name).second) {
        std::weak_ptr<StatCollector> weak = weak_from_this();
        databaseItemWithPath(bandwidthDatabasePath())
            ->queryDatabaseAsync([name, results = fileResults_, weak](const FMDatabasePtr& db) {
                const int64_t identifier = identifierInFile(db, name);
                {
                    std::lock_guard<std::mutex> lock(results->mutex);
                    results->identifiers.emplace_back(name, identifier);
                }
                results->identifiersWaiting = true;
                dispatch::Queue::main()->async([weak] {
                    if (auto self = std::static_pointer_cast<NetworkStatCollectorMac>(weak.lock())) self->takeIdentifiers();
                });
            });
    }
    return -1;
}

void NetworkStatCollectorMac::takeIdentifiers() {
    if (!fileResults_->identifiersWaiting.exchange(false)) return;
    std::vector<std::pair<std::string, int64_t>> found;
    {
        std::lock_guard<std::mutex> lock(fileResults_->mutex);
        found.swap(fileResults_->identifiers);
    }
    for (const auto& entry : found) {
        const std::string& name = entry.first;
        const auto identifier = entry.second;
        askedIdentifiers_.erase(name);
        // A failed insert is not remembered: the name is asked for again by its next row.
        if (identifier < 0) continue;
        auto& map = bandwidthInterfaceMap();
        if (std::none_of(map.begin(), map.end(), [&](const InterfaceMapEntry& e) { return e.interface == name; }))
            map.push_back({identifier, name});
        auto bucket = bandwidthItems().find(name);
        if (bucket != bandwidthItems().end() && bucket->second.interfaceIdentifier < 0)
            bucket->second.interfaceIdentifier = identifier;
    }
}

void NetworkStatCollectorMac::updateBandwidth(const std::string& name, double received, double sent, double now) {
    auto it = bandwidthItems().find(name);
    if (it == bandwidthItems().end()) {
        NetworkStatCollectorBandwidthItem bucket;
        bucket.key = name;
        bucket.start = now;
        bucket.uploadStart = sent;
        bucket.downloadStart = received;
        bucket.end = nextBandwidthUpdateTime_;
        bucket.interfaceIdentifier = identifierForInterface(name);
        it = bandwidthItems().emplace(name, bucket).first;
    }
    NetworkStatCollectorBandwidthItem& b = it->second;
    if (b.uploadLast > sent || b.downloadLast > received) {
        b.uploadRunningTotal += b.uploadLast - b.uploadStart;
        b.downloadRunningTotal += b.downloadLast - b.downloadStart;
        b.uploadStart = sent;
        b.downloadStart = received;
    }
    b.uploadLast = sent;
    b.downloadLast = received;
    b.lastUpdate = now;
    b.lastReadElapsed = platform::Clock::sinceBoot();
}

void NetworkStatCollectorMac::closeBucket(NetworkStatCollectorBandwidthItem& b, double end) {
    // A wall clock stepped back since the bucket opened must not give a row that ends before
    // it starts.
    if (b.start > end) b.start = end;
    const double upload = b.uploadRunningTotal + b.uploadLast - b.uploadStart;
    const double download = b.downloadRunningTotal + b.downloadLast - b.downloadStart;
    b.uploadStart = b.uploadLast;
    b.downloadStart = b.downloadLast;
    b.uploadRunningTotal = 0;
    b.downloadRunningTotal = 0;
    if (upload > kThreshold || download > kThreshold)
        pendingRows_.push_back({b.key, b.interfaceIdentifier, b.start, end, upload, download});
}

void NetworkStatCollectorMac::takeFailedRows(bool wait) {
    if (bandwidthDatabasePath().empty()) return;
    // The file's queue is serial: an empty block there waits for every insert handed before.
    if (wait) databaseItemWithPath(bandwidthDatabasePath())->queryDatabase([](const FMDatabasePtr&) {});
    takeIdentifiers();
    std::vector<PendingRow> failed;
    {
        std::lock_guard<std::mutex> lock(fileResults_->mutex);
        failed.swap(fileResults_->rows);
    }
    // Older rows first.
    pendingRows_.insert(pendingRows_.begin(), failed.begin(), failed.end());
}

size_t NetworkStatCollectorMac::pendingBandwidthRows() {
    takeFailedRows(true);
    return pendingRows_.size();
}

void NetworkStatCollectorMac::writePendingRows(bool wait) {
    takeFailedRows(wait);
    if (pendingRows_.empty() || bandwidthDatabasePath().empty()) return;
    static const char* const kInsert =
        "insert into bandwidth_samples (start, end, interface, upload, download) values (?, ?, ?, ?, ?)";
    HistoryDatabaseItemPtr file = databaseItemWithPath(bandwidthDatabasePath());
    for (PendingRow& row : pendingRows_) {
        if (row.identifier < 0)
            for (const auto& entry : bandwidthInterfaceMap())
                if (entry.interface == row.interface) row.identifier = entry.identifier;
        auto insert = [row, results = fileResults_](const FMDatabasePtr& db) mutable {
            // A name not known on the main queue yet is looked up here, after its map row.
            if (row.identifier < 0) {
                row.identifier = identifierInFile(db, row.interface);
                if (row.identifier >= 0) {
                    {
                        std::lock_guard<std::mutex> lock(results->mutex);
                        results->identifiers.emplace_back(row.interface, row.identifier);
                    }
                    results->identifiersWaiting = true;
                }
            }
            if (row.identifier >= 0) {
                if (db->executeUpdate(kInsert, {Value(row.start), Value(row.end), Value(static_cast<long long>(row.identifier)),
                                                Value(row.upload), Value(row.download)}))
                    return;
                frameworklog::log("network: cannot store the bandwidth of " + row.interface + ": " + db->lastErrorMessage());
            }
            std::lock_guard<std::mutex> lock(results->mutex);
            results->rows.push_back(row);
        };
        if (wait)
            file->queryDatabase(insert);
        else
            file->queryDatabaseAsync(insert);
    }
    pendingRows_.clear();
    if (wait) takeFailedRows(false);
}

void NetworkStatCollectorMac::closeBandwidthPeriod(double now) {
    const double oldEnd = nextBandwidthUpdateTime_;
    for (auto& [name, bucket] : bandwidthItems()) {
        closeBucket(bucket, bucket.end);
        bucket.start = oldEnd;
    }
    writePendingRows(false);
    nextBandwidthUpdateTime_ = std::ceil(now / 600.0) * 600.0;
    for (auto& [name, bucket] : bandwidthItems()) bucket.end = nextBandwidthUpdateTime_;
    dropGoneBuckets();
}

void NetworkStatCollectorMac::dropGoneBuckets() {
    // Just closed, a bucket not read for longer than the expiry holds nothing to count; its
    // interface's map entry goes with it (the file keeps the row, read again when the name
    // comes back).
    const double elapsed = platform::Clock::sinceBoot();
    std::erase_if(bandwidthItems(), [&](const auto& entry) {
        const NetworkStatCollectorBandwidthItem& b = entry.second;
        return elapsed - b.lastReadElapsed > kGoneExpiry;
    });
    std::erase_if(bandwidthInterfaceMap(), [&](const InterfaceMapEntry& e) { return !bandwidthItems().count(e.interface); });
}

void NetworkStatCollectorMac::saveBandwidth() {
    noticeClockStep();
    const double now = platform::Clock::now();
    for (auto& [name, bucket] : bandwidthItems()) {
        closeBucket(bucket, now);
        bucket.start = now;
    }
    writePendingRows(true);
}

}  // namespace telvo
