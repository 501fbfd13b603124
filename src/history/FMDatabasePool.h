#pragma once
// Lends out open connections to one database file; a serial queue guards the lists of idle
// and lent connections. Each lent connection is used by one borrower at a time.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/FMDatabase.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class FMDatabasePool;
using FMDatabasePoolPtr = std::shared_ptr<FMDatabasePool>;

// Both operations optional: a missing one admits every connection / says nothing.
struct FMDatabasePoolDelegate {
    std::function<bool(FMDatabasePool& pool, const FMDatabasePtr& db)> databasePoolShouldAddDatabaseToPool;
    std::function<void(FMDatabasePool& pool, const FMDatabasePtr& db)> databasePoolDidAddDatabase;
};

class FMDatabasePool {
public:
    static constexpr int kDefaultOpenFlags = 6;

    static FMDatabasePoolPtr databasePoolWithPath(const std::optional<std::string>& path,
                                                  int flags = kDefaultOpenFlags);
    explicit FMDatabasePool(const std::optional<std::string>& path = std::nullopt, int flags = kDefaultOpenFlags);

    using DatabaseBlock = std::function<void(const FMDatabasePtr& db)>;
    using TransactionBlock = std::function<void(const FMDatabasePtr& db, bool* rollback)>;

    void inDatabase(const DatabaseBlock& block);
    void inTransaction(const TransactionBlock& block);
    void inDeferredTransaction(const TransactionBlock& block);
    ErrorPtr inSavePoint(const TransactionBlock& block);

    // Borrows a connection (null when none can be had) and puts one back (null ignored).
    // Putting back a connection that is already idle is refused with a logged
    // "Database already in pool" and changes nothing.
    FMDatabasePtr db();
    void pushDatabaseBackInPool(const FMDatabasePtr& db);

    size_t countOfCheckedInDatabases() const;
    size_t countOfCheckedOutDatabases() const;
    size_t countOfOpenDatabases() const;
    // Empties both lists without closing.
    void releaseAllDatabases();

    size_t maximumNumberOfDatabasesToCreate() const { return maximumNumberOfDatabasesToCreate_; }
    void setMaximumNumberOfDatabasesToCreate(size_t maximum) { maximumNumberOfDatabasesToCreate_ = maximum; }
    const FMDatabasePoolDelegate& delegate() const { return delegate_; }
    void setDelegate(FMDatabasePoolDelegate delegate) { delegate_ = std::move(delegate); }
    const std::optional<std::string>& path() const { return path_; }
    int openFlags() const { return openFlags_; }

private:
    void beginTransaction(bool deferred, const TransactionBlock& block);

    std::optional<std::string> path_;
    dispatch::QueuePtr lockQueue_;
    std::vector<FMDatabasePtr> databaseInPool_;
    std::vector<FMDatabasePtr> databaseOutPool_;
    FMDatabasePoolDelegate delegate_;
    size_t maximumNumberOfDatabasesToCreate_ = 0;
    int openFlags_ = kDefaultOpenFlags;
};

}  // namespace telvo
