#pragma once
// The process-wide table of open history files: one HistoryDatabaseItem per file, keyed by
// the file's full path and opened on first use.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryDatabaseItem.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class HistoryDatabaseController {
public:
    static HistoryDatabaseController& sharedHistoryDatabaseController();
    // Tests: closes every file (pending writes are dropped) and forgets them.
    static void resetForTesting();

    // The item of the file, opened on first use; null for no path (nullopt or "").
    HistoryDatabaseItemPtr databaseWithPath(const std::optional<std::string>& path);
    // Closes the file's connection and forgets the item; its pending writes are dropped.
    void closeDatabase(const std::string& path);
    // closeDatabase, then removes the file (with any journal SQLite left beside it);
    // a failure to remove is ignored.
    void deleteDatabase(const std::string& path);
    // When the backup exists: closes and removes the target, copies the backup in its place,
    // opens it and deletes it again when it fails the integrity check. Answers whether the
    // restored file is in place.
    bool restoreBackup(const std::string& backupPath, const std::string& path);
    // Commits the pending writes of every open file, waiting for each; answers whether all
    // of them committed. The daemon's stop runs this so no file loses its queued rows.
    bool commitAllSync();

    // The paths of the open files, in key order.
    std::vector<std::string> openPaths() const;
    const dispatch::QueuePtr& queue() const { return queue_; }
    std::string description() const;

    // The key a path is stored under (its lexically normal form).
    static std::string keyForPath(const std::string& path);

private:
    HistoryDatabaseController();
    HistoryDatabaseItemPtr take(const std::string& path);

    dispatch::QueuePtr queue_;
    mutable std::mutex mutex_;
    std::map<std::string, HistoryDatabaseItemPtr> databases_;
};

// The history file item of a path, opened on first use; null for no path.
HistoryDatabaseItemPtr databaseItemWithPath(const std::optional<std::string>& path);
// That item's connection; null for no path.
FMDatabasePtr databaseWithPath(const std::optional<std::string>& path);

}  // namespace telvo
