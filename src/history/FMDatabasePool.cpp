#include "history/FMDatabasePool.h"

#include <algorithm>
#include <cstdio>

#include "history/FMTransactionSteps.h"
#include "history/HistoryLog.h"
#include "platform/values/Format.h"

namespace telvo {

using history::consoleLog;

FMDatabasePoolPtr FMDatabasePool::databasePoolWithPath(const std::optional<std::string>& path, int flags) {
    return std::make_shared<FMDatabasePool>(path, flags);
}

FMDatabasePool::FMDatabasePool(const std::optional<std::string>& path, int flags) : path_(path), openFlags_(flags) {
    char object[64];
    std::snprintf(object, sizeof object, "<FMDatabasePool: %p>", static_cast<const void*>(this));
    lockQueue_ = dispatch::Queue::createSerial(format("fmdb.%@", std::string(object)));
}

FMDatabasePtr FMDatabasePool::db() {
    FMDatabasePtr db;
    bool created = false;
    lockQueue_->sync([&] {
        if (!databaseInPool_.empty()) {
            db = databaseInPool_.back();
            databaseInPool_.pop_back();
            databaseOutPool_.push_back(db);
        } else {
            size_t open = databaseInPool_.size() + databaseOutPool_.size();
            if (maximumNumberOfDatabasesToCreate_ && open >= maximumNumberOfDatabasesToCreate_) {
                consoleLog(format("Maximum number of databases (%ld) has already been reached!",
                                  long(maximumNumberOfDatabasesToCreate_)));
                return;
            }
            db = FMDatabase::databaseWithPath(path_);
            created = true;
        }
        if (!db->openWithFlags(openFlags_)) {
            consoleLog(format("Could not open up the database at path %@", path_ ? *path_ : std::string("(null)")));
            databaseOutPool_.erase(std::remove(databaseOutPool_.begin(), databaseOutPool_.end(), db),
                                   databaseOutPool_.end());
            db.reset();
            return;
        }
        if (delegate_.databasePoolShouldAddDatabaseToPool && !delegate_.databasePoolShouldAddDatabaseToPool(*this, db)) {
            db->close();
            databaseOutPool_.erase(std::remove(databaseOutPool_.begin(), databaseOutPool_.end(), db),
                                   databaseOutPool_.end());
            db.reset();
            return;
        }
        if (std::find(databaseOutPool_.begin(), databaseOutPool_.end(), db) == databaseOutPool_.end())
            databaseOutPool_.push_back(db);
        if (created && delegate_.databasePoolDidAddDatabase) delegate_.databasePoolDidAddDatabase(*this, db);
    });
    return db;
}

void FMDatabasePool::pushDatabaseBackInPool(const FMDatabasePtr& db) {
    if (!db) return;
    lockQueue_->sync([&] {
        if (std::find(databaseInPool_.begin(), databaseInPool_.end(), db) != databaseInPool_.end()) {
            consoleLog("Database already in pool: The FMDatabase being put back into the pool is already present in "
                       "the pool");
            return;
        }
        databaseInPool_.push_back(db);
        databaseOutPool_.erase(std::remove(databaseOutPool_.begin(), databaseOutPool_.end(), db),
                               databaseOutPool_.end());
    });
}

size_t FMDatabasePool::countOfCheckedInDatabases() const {
    size_t n = 0;
    lockQueue_->sync([&] { n = databaseInPool_.size(); });
    return n;
}

size_t FMDatabasePool::countOfCheckedOutDatabases() const {
    size_t n = 0;
    lockQueue_->sync([&] { n = databaseOutPool_.size(); });
    return n;
}

size_t FMDatabasePool::countOfOpenDatabases() const {
    size_t n = 0;
    lockQueue_->sync([&] { n = databaseInPool_.size() + databaseOutPool_.size(); });
    return n;
}

void FMDatabasePool::releaseAllDatabases() {
    lockQueue_->sync([&] {
        databaseInPool_.clear();
        databaseOutPool_.clear();
    });
}

void FMDatabasePool::inDatabase(const DatabaseBlock& block) {
    FMDatabasePtr db = this->db();
    if (block) block(db);
    pushDatabaseBackInPool(db);
}

void FMDatabasePool::beginTransaction(bool deferred, const TransactionBlock& block) {
    FMDatabasePtr db = this->db();
    if (!db) return;
    fmsteps::runTransaction(db, deferred, block);
    pushDatabaseBackInPool(db);
}

void FMDatabasePool::inTransaction(const TransactionBlock& block) {
    beginTransaction(false, block);
}

void FMDatabasePool::inDeferredTransaction(const TransactionBlock& block) {
    beginTransaction(true, block);
}

ErrorPtr FMDatabasePool::inSavePoint(const TransactionBlock& block) {
    FMDatabasePtr db = this->db();
    if (!db) return makeError("FMDatabase", 0, "Could not borrow a database from the pool");
    ErrorPtr err = fmsteps::runSavePoint(db, block);
    pushDatabaseBackInPool(db);
    return err;
}

}  // namespace telvo
