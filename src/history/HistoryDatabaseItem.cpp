#include "history/HistoryDatabaseItem.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

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
bool isTransient(int code) {
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}
}  // namespace

bool HistoryDatabaseItem::runCommit() {
    busy_ = true;
    std::vector<HistoryWriteRecord> pending;
    {
        std::lock_guard<std::mutex> lock(queriesMutex_);
        pending.swap(queries_);
    }
    // Puts writes that could not be committed back in front of any newer ones.
    auto keepForNextCommit = [this, &pending] {
        std::lock_guard<std::mutex> lock(queriesMutex_);
        pending.insert(pending.end(), std::make_move_iterator(queries_.begin()),
                       std::make_move_iterator(queries_.end()));
        queries_.swap(pending);
    };

    const FMDatabasePtr& db = database_;
    if (!db->beginTransaction()) {
        int code = db->lastErrorCode();
        busy_ = false;
        if (db->sqliteHandle() && isTransient(code)) {
            historyLog(format("Could not begin a transaction on %@ (%d: %@); %ld writes wait for the next commit",
                              path_, code, db->lastErrorMessage(), long(pending.size())));
            keepForNextCommit();
        } else {
            historyLog(format("Could not begin a transaction on %@ (%d: %@); %ld writes dropped", path_, code,
                              db->lastErrorMessage(), long(pending.size())));
        }
        return false;
    }
    for (const HistoryWriteRecord& record : pending) db->executeUpdate(record.statementText(), record.args);
    busy_ = false;
    if (db->commit()) return true;

    int code = db->lastErrorCode();
    std::string message = db->lastErrorMessage();
    if (db->sqliteHandle() && !sqlite3_get_autocommit(db->sqliteHandle())) db->rollback();
    if (isTransient(code)) {
        historyLog(format("Could not commit %@ (%d: %@); %ld writes wait for the next commit", path_, code, message,
                          long(pending.size())));
        keepForNextCommit();
    } else {
        historyLog(format("Could not commit %@ (%d: %@); %ld writes dropped", path_, code, message,
                          long(pending.size())));
    }
    return false;
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
