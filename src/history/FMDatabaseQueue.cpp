#include "history/FMDatabaseQueue.h"

#include <cstdio>
#include <cstdlib>

#include "history/FMTransactionSteps.h"
#include "history/HistoryLog.h"
#include "platform/values/Format.h"

namespace telvo {

using history::consoleLog;

namespace {
const char queueKeyAnchor = 0;
const void* const kDispatchQueueSpecificKey = &queueKeyAnchor;
}  // namespace

FMDatabaseQueuePtr FMDatabaseQueue::databaseQueueWithPath(const std::optional<std::string>& path, int flags,
                                                          const std::optional<std::string>& vfs) {
    FMDatabaseQueuePtr q(new FMDatabaseQueue());
    q->path_ = path;
    q->openFlags_ = flags;
    q->vfs_ = vfs;
    q->db_ = FMDatabase::databaseWithPath(path);
    if (!q->db_->openWithFlags(flags, vfs)) {
        consoleLog(format("Could not create database queue for path %@", path ? *path : std::string("(null)")));
        q->db_->close();
        return nullptr;
    }
    q->queue_ = dispatch::Queue::createSerial(format("fmdb.%@", q->description()));
    q->queue_->setSpecific(kDispatchQueueSpecificKey, q.get());
    return q;
}

FMDatabaseQueue::~FMDatabaseQueue() {
    if (queue_) queue_->setSpecific(kDispatchQueueSpecificKey, nullptr);
}

std::string FMDatabaseQueue::description() const {
    char object[64];
    std::snprintf(object, sizeof object, "<FMDatabaseQueue: %p>", static_cast<const void*>(this));
    return object;
}

FMDatabasePtr FMDatabaseQueue::database() {
    if (!db_) {
        db_ = FMDatabase::databaseWithPath(path_);
        if (!db_->openWithFlags(openFlags_, vfs_)) {
            consoleLog(format("FMDatabaseQueue could not reopen database for path %@",
                              path_ ? *path_ : std::string("(null)")));
            db_.reset();
        }
    }
    return db_;
}

void FMDatabaseQueue::checkNotReentrant() const {
    if (dispatch::Queue::getSpecific(kDispatchQueueSpecificKey) == this) {
        const char* message = "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock";
        history::historyLog(message);
        std::fprintf(stderr, "%s\n", message);
        std::abort();
    }
}

void FMDatabaseQueue::inDatabase(const DatabaseBlock& block) {
    checkNotReentrant();
    queue_->sync([this, &block] {
        FMDatabasePtr db = database();
        if (block) block(db);
        if (db && db->hasOpenResultSets())
            consoleLog("Warning: there is at least one open result set around after performing "
                       "[FMDatabaseQueue inDatabase:]");
    });
}

void FMDatabaseQueue::beginTransaction(bool deferred, const TransactionBlock& block) {
    checkNotReentrant();
    queue_->sync([this, deferred, &block] {
        if (FMDatabasePtr db = database()) fmsteps::runTransaction(db, deferred, block);
    });
}

void FMDatabaseQueue::inTransaction(const TransactionBlock& block) {
    beginTransaction(false, block);
}

void FMDatabaseQueue::inDeferredTransaction(const TransactionBlock& block) {
    beginTransaction(true, block);
}

ErrorPtr FMDatabaseQueue::inSavePoint(const TransactionBlock& block) {
    ErrorPtr err;
    checkNotReentrant();
    queue_->sync([this, &block, &err] {
        if (FMDatabasePtr db = database()) err = fmsteps::runSavePoint(db, block);
    });
    return err;
}

void FMDatabaseQueue::close() {
    queue_->sync([this] {
        if (db_) db_->close();
        db_.reset();
    });
}

}  // namespace telvo
