#pragma once
// Serialises all work on one connection through a private serial queue "fmdb.%@", so that
// any thread may use the database.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "history/FMDatabase.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class FMDatabaseQueue;
using FMDatabaseQueuePtr = std::shared_ptr<FMDatabaseQueue>;

class FMDatabaseQueue : public std::enable_shared_from_this<FMDatabaseQueue> {
public:
    static constexpr int kDefaultOpenFlags = 6;  // read-write and create

    // Opens the connection at once; null when it cannot be opened.
    static FMDatabaseQueuePtr databaseQueueWithPath(const std::optional<std::string>& path,
                                                    int flags = kDefaultOpenFlags,
                                                    const std::optional<std::string>& vfs = std::nullopt);
    ~FMDatabaseQueue();

    using DatabaseBlock = std::function<void(const FMDatabasePtr& db)>;
    using TransactionBlock = std::function<void(const FMDatabasePtr& db, bool* rollback)>;

    // Runs the block on the queue and returns after it; a call from the queue itself stops
    // the process.
    void inDatabase(const DatabaseBlock& block);
    void inTransaction(const TransactionBlock& block);
    void inDeferredTransaction(const TransactionBlock& block);
    ErrorPtr inSavePoint(const TransactionBlock& block);
    // Closes and drops the connection; the next use reopens it.
    void close();

    const std::optional<std::string>& path() const { return path_; }
    void setPath(const std::optional<std::string>& path) { path_ = path; }
    int openFlags() const { return openFlags_; }
    const dispatch::QueuePtr& queue() const { return queue_; }
    std::string description() const;

private:
    FMDatabaseQueue() = default;
    FMDatabasePtr database();
    void beginTransaction(bool deferred, const TransactionBlock& block);
    void checkNotReentrant() const;

    std::optional<std::string> path_;
    dispatch::QueuePtr queue_;
    FMDatabasePtr db_;
    int openFlags_ = kDefaultOpenFlags;
    std::optional<std::string> vfs_;
};

}  // namespace telvo
