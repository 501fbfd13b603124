#pragma once
// One history file: its connection and its own serial queue "dbqueue-%@", on which every read
// and write of the file runs. Writes are queued as HistoryWriteRecords and run together in
// one transaction per commit.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "history/FMDatabase.h"
#include "history/HistoryWriteRecord.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class HistoryDatabaseItem;
using HistoryDatabaseItemPtr = std::shared_ptr<HistoryDatabaseItem>;

// The queue-specific key of every history file's queue; its value is the item.
extern const void* const kDBDispatchQueueSpecificKey;

class HistoryDatabaseItem : public std::enable_shared_from_this<HistoryDatabaseItem> {
public:
    using DatabaseBlock = std::function<void(const FMDatabasePtr& db)>;

    // Creates the queue and the connection and opens the file (created when absent), with
    // error logging off and statement caching on. An item whose file could not be opened
    // logs "Could not open db." and is returned all the same; its statements then fail.
    static HistoryDatabaseItemPtr initWithPath(const std::string& path);
    ~HistoryDatabaseItem();

    // Appends a write for the next commit (asynchronously on the queue).
    void addItem(HistoryWriteRecord record);
    // Runs the pending writes in one transaction, asynchronously on the queue.
    void commit();
    // The same, waiting for it. Answers whether the transaction was committed. When it could
    // not be (the disk is full, the file read-only, failing or locked by another process) it
    // is rolled back and its writes stay pending, in order, for the next commit; of each table
    // only the rows within the ring's reach (602 sample numbers) are kept. The first failure
    // and the recovery are logged once each.
    bool commitSync();
    // Whether the last commit failed.
    bool failing() const { return failing_; }
    // Runs the block on the queue and returns after it. Calling it from the file's own queue
    // is a programming error that stops the process.
    void queryDatabase(const DatabaseBlock& block);
    void queryDatabaseAsync(DatabaseBlock block);
    // Closes the connection, after whatever already runs or waits on the queue.
    void close();

    const FMDatabasePtr& database() const { return database_; }
    void setDatabase(FMDatabasePtr database) { database_ = std::move(database); }
    const dispatch::QueuePtr& queue() const { return queue_; }
    // A copy of the pending writes.
    std::vector<HistoryWriteRecord> queries() const;
    bool busy() const { return busy_; }
    void setBusy(bool busy) { busy_ = busy; }
    const std::string& path() const { return path_; }
    void setPath(const std::string& path) { path_ = path; }

    std::string description() const;

private:
    HistoryDatabaseItem() = default;
    bool runCommit();
    // Drops the records older than what a table keeps; answers how many.
    static size_t boundKeptWrites(std::vector<HistoryWriteRecord>& records);
    // Runs the block on the queue; inline when already on it.
    void onQueue(const dispatch::Block& block);

    std::atomic<bool> busy_{false};
    // Touched on the queue only.
    std::atomic<bool> failing_{false};
    size_t droppedWhileFailing_ = 0;
    std::string path_;
    FMDatabasePtr database_;
    dispatch::QueuePtr queue_;
    mutable std::mutex queriesMutex_;
    std::vector<HistoryWriteRecord> queries_;
};

}  // namespace telvo
