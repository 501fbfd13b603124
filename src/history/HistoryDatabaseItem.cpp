#include "history/HistoryDatabaseItem.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "foundation/ServerLog.h"
#include "history/HistoryLog.h"
#include "platform/values/Format.h"

namespace telvo {

using history::historyLog;

namespace {
const char specificKeyAnchor = 0;
}
const void* const kDBDispatchQueueSpecificKey = &specificKeyAnchor;

HistoryDatabaseItemPtr HistoryDatabaseItem::initWithPath(const std::string& path) {
    HistoryDatabaseItemPtr item(new HistoryDatabaseItem());
    item->path_ = path;
    item->queue_ = dispatch::Queue::createSerial(format("dbqueue-%@", item->description()));
    item->queue_->setSpecific(kDBDispatchQueueSpecificKey, item.get());
    item->database_ = FMDatabase::databaseWithPath(path);
    HistoryDatabaseItem* raw = item.get();
    item->queue_->sync([raw] {
        raw->database_->setLogsErrors(false);
        raw->database_->setShouldCacheStatements(true);
        if (!raw->database_->open()) historyLog("Could not open db.");
    });
    return item;
}

HistoryDatabaseItem::~HistoryDatabaseItem() {
    if (queue_) queue_->setSpecific(kDBDispatchQueueSpecificKey, nullptr);
}

std::string HistoryDatabaseItem::description() const {
    char object[64];
    std::snprintf(object, sizeof object, "<HistoryDatabaseItem: %p>", static_cast<const void*>(this));
    return object;
}

void HistoryDatabaseItem::onQueue(const dispatch::Block& block) {
    if (queue_->isCurrent())
        block();
    else
        queue_->sync(block);
}

void HistoryDatabaseItem::addItem(HistoryWriteRecord record) {
    auto self = shared_from_this();
    queue_->async([self, record = std::move(record)]() mutable {
        std::lock_guard<std::mutex> lock(self->queriesMutex_);
        self->queries_.push_back(std::move(record));
    });
}

std::vector<HistoryWriteRecord> HistoryDatabaseItem::queries() const {
    std::lock_guard<std::mutex> lock(queriesMutex_);
    return queries_;
}

namespace {

// How far back a file that cannot be written keeps the rows of one table: the ring's reach
// (the pruning keeps the newest 602 sample numbers of a table), and as many records of a
// table whose rows carry no sample number.
constexpr double kKeptSampleReach = 602;
constexpr size_t kKeptRecordsWithoutSample = 602;

// Failures of the statement itself (its text, its values, a missing table): it fails alone
// and the other records of the commit still run. Every other failure is the file's (full,
// read-only, I/O error, locked, not openable), and the whole commit waits for the next one.
bool isStatementFault(int code) {
    switch (code & 0xff) {
        case SQLITE_OK:
        case SQLITE_ERROR:
        case SQLITE_CONSTRAINT:
        case SQLITE_MISMATCH:
        case SQLITE_RANGE:
        case SQLITE_TOOBIG:
        case SQLITE_MISUSE:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return true;
        default:
            return false;
    }
}

// A history file's problems go to the daemon's log as well as to the logging core, which
// has no logger in the daemon.
void report(const std::string& message) {
    historyLog(message);
    writeDaemonLogLine(message);
}

}  // namespace

size_t HistoryDatabaseItem::boundKeptWrites(std::vector<HistoryWriteRecord>& records) {
    std::map<std::string, double> newest;
    for (const HistoryWriteRecord& r : records)
        if (r.sample) {
            auto [it, added] = newest.emplace(r.table, *r.sample);
            if (!added && *r.sample > it->second) it->second = *r.sample;
        }
    std::map<std::string, size_t> withoutSample;
    std::vector<bool> drop(records.size(), false);
    for (size_t i = records.size(); i-- > 0;) {
        const HistoryWriteRecord& r = records[i];
        if (r.sample)
            drop[i] = *r.sample < newest[r.table] - kKeptSampleReach;
        else
            drop[i] = ++withoutSample[r.table] > kKeptRecordsWithoutSample;
    }
    std::vector<HistoryWriteRecord> kept;
    kept.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i)
        if (!drop[i]) kept.push_back(std::move(records[i]));
    size_t dropped = records.size() - kept.size();
    records.swap(kept);
    return dropped;
}

bool HistoryDatabaseItem::runCommit() {
    busy_ = true;
    std::vector<HistoryWriteRecord> pending;
    {
        std::lock_guard<std::mutex> lock(queriesMutex_);
        pending.swap(queries_);
    }
    const FMDatabasePtr& db = database_;

    // The transaction is rolled back and its writes go back, in order, in front of any newer
    // ones, for the next commit: a failing file loses nothing within the ring's reach.
    auto keepForNextCommit = [&](const char* step, int code, const std::string& message) {
        busy_ = false;
        if (db->sqliteHandle() && !sqlite3_get_autocommit(db->sqliteHandle())) db->rollback();
        size_t count = pending.size();
        {
            std::lock_guard<std::mutex> lock(queriesMutex_);
            pending.insert(pending.end(), std::make_move_iterator(queries_.begin()),
                           std::make_move_iterator(queries_.end()));
            droppedWhileFailing_ += boundKeptWrites(pending);
            queries_.swap(pending);
        }
        // Once when the file starts failing, not at every commit that fails again.
        if (!failing_)
            report(format("Could not %s %@ (%d: %@); %ld writes wait for the next commit", step, path_, code, message,
                          long(count)));
        failing_ = true;
        return false;
    };

    if (!db->sqliteHandle()) {
        // A file that could not be opened stays closed: its writes could never land.
        busy_ = false;
        historyLog(format("Could not begin a transaction on %@ (not open); %ld writes dropped", path_,
                          long(pending.size())));
        return false;
    }
    if (!db->beginTransaction()) return keepForNextCommit("begin a transaction on", db->lastErrorCode(), db->lastErrorMessage());
    for (const HistoryWriteRecord& record : pending) {
        if (db->executeUpdate(record.statementText(), record.args)) continue;
        int code = db->lastErrorCode();
        if (!isStatementFault(code)) return keepForNextCommit("write to", code, db->lastErrorMessage());
    }
    busy_ = false;
    if (!db->commit()) return keepForNextCommit("commit", db->lastErrorCode(), db->lastErrorMessage());

    if (failing_) {
        std::string dropped = droppedWhileFailing_ == 0
                                  ? std::string()
                                  : format("; %ld older writes beyond the history's reach were given up",
                                           long(droppedWhileFailing_));
        report(format("%@ is written again: %ld writes that waited were committed%@", path_, long(pending.size()),
                      dropped));
        failing_ = false;
        droppedWhileFailing_ = 0;
    }
    return true;
}

void HistoryDatabaseItem::commit() {
    auto self = shared_from_this();
    queue_->async([self] { self->runCommit(); });
}

bool HistoryDatabaseItem::commitSync() {
    bool committed = false;
    onQueue([this, &committed] { committed = runCommit(); });
    return committed;
}

void HistoryDatabaseItem::queryDatabase(const DatabaseBlock& block) {
    if (dispatch::Queue::getSpecific(kDBDispatchQueueSpecificKey) == this) {
        const char* message = "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock";
        historyLog(message);
        std::fprintf(stderr, "%s\n", message);
        std::abort();
    }
    queue_->sync([this, &block] {
        if (block) block(database_);
        if (database_->hasOpenResultSets())
            historyLog("Warning: there is at least one open result set around after performing "
                       "[FMDatabaseQueue inDatabase:]");
    });
}

void HistoryDatabaseItem::queryDatabaseAsync(DatabaseBlock block) {
    auto self = shared_from_this();
    queue_->async([self, block = std::move(block)] {
        if (block) block(self->database_);
    });
}

void HistoryDatabaseItem::close() {
    onQueue([this] { database_->close(); });
}

}  // namespace telvo
