// History files: one item and queue per file, queued writes committed in one transaction per
// commit, the integrity check and the replacement of a damaged file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "history/HistoryDatabaseController.h"
#include "history/HistoryTestSupport.h"
#include "history/WriteFaultVfs.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

using testing::ExclusiveLockHolder;
using testing::LogCapture;
using testing::sqliteTool;

// Counts the transactions a connection commits, with the connection's total change count at
// each, so that a test sees which rows went into which transaction.
struct CommitCounter {
    std::mutex mutex;
    std::vector<int> totalChangesAtCommit;
    sqlite3* handle = nullptr;
    static int hook(void* context) {
        auto* self = static_cast<CommitCounter*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->totalChangesAtCommit.push_back(sqlite3_total_changes(self->handle));
        return 0;
    }
    void attach(const HistoryDatabaseItemPtr& item) {
        item->queryDatabase([this](const FMDatabasePtr& db) {
            handle = db->sqliteHandle();
            sqlite3_commit_hook(handle, &CommitCounter::hook, this);
        });
    }
    std::vector<int> commits() {
        std::lock_guard<std::mutex> lock(mutex);
        return totalChangesAtCommit;
    }
};

class HistoryDatabaseTest : public testing::TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        HistoryDatabaseController::resetForTesting();
    }
    void TearDown() override {
        HistoryDatabaseController::resetForTesting();
        TempRootTest::TearDown();
    }
    static void createTable(const HistoryDatabaseItemPtr& item, const std::string& table) {
        item->queryDatabase([&](const FMDatabasePtr& db) {
            ASSERT_TRUE(db->executeUpdate("CREATE TABLE " + table + " (sample DOUBLE UNIQUE, time DOUBLE, value)"));
        });
    }
    static HistoryWriteRecord insert(const std::string& table, double sample, Value value = Value(1.0)) {
        return HistoryWriteRecord{"INSERT INTO %@ (sample, time, value) VALUES (?, ?, ?)", table,
                                  {Value(sample), Value(1000.0 + sample), std::move(value)}};
    }
};

TEST_F(HistoryDatabaseTest, EachFileIsOpenedOnceAndKeyedByItsFullPath) {
    ASSERT_TRUE(fs::createDirectories("/other/databases"));
    HistoryDatabaseItemPtr local = databaseItemWithPath(dbPath("local.db"));
    ASSERT_TRUE(local);
    EXPECT_EQ(databaseItemWithPath(dbPath("local.db")), local);
    EXPECT_EQ(databaseItemWithPath(std::string(kDir) + "/./local.db"), local);
    EXPECT_EQ(databaseWithPath(dbPath("local.db")), local->database());
    // Two files of the same name in two folders are two files.
    HistoryDatabaseItemPtr other = databaseItemWithPath(std::string("/other/databases/local.db"));
    ASSERT_TRUE(other);
    EXPECT_NE(other, local);
    EXPECT_NE(other->database(), local->database());
    createTable(local, "hour_cpuhistory");
    local->addItem(insert("hour_cpuhistory", 1));
    ASSERT_TRUE(local->commitSync());
    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select count(*) from hour_cpuhistory"), "1\n");
    EXPECT_NE(sqliteTool("/other/databases/local.db", "select count(*) from hour_cpuhistory").find("no such table"),
              std::string::npos);

    EXPECT_EQ(local->queue()->label(), "dbqueue-" + local->description());
    EXPECT_TRUE(local->database()->shouldCacheStatements());
    EXPECT_FALSE(local->database()->logsErrors());
    EXPECT_EQ(local->path(), dbPath("local.db"));

    EXPECT_FALSE(databaseItemWithPath(std::nullopt));
    EXPECT_FALSE(databaseItemWithPath(std::string()));
    EXPECT_FALSE(databaseWithPath(std::nullopt));
    EXPECT_EQ(HistoryDatabaseController::sharedHistoryDatabaseController().openPaths().size(), 2u);
}

TEST_F(HistoryDatabaseTest, QueuedWritesOfTwoFilesLandInOneTransactionEachPerCommit) {
    HistoryDatabaseItemPtr local = databaseItemWithPath(dbPath("local.db"));
    HistoryDatabaseItemPtr longterm = databaseItemWithPath(dbPath("longterm.db"));
    createTable(local, "hour_cpuhistory");
    createTable(local, "day_cpuhistory");
    createTable(longterm, "cpuhistory");
    CommitCounter localCommits, longCommits;
    localCommits.attach(local);
    longCommits.attach(longterm);

    for (int i = 1; i <= 5; ++i) local->addItem(insert("hour_cpuhistory", i, Value(i * 1.5)));
    local->addItem(insert("day_cpuhistory", 1));
    local->addItem(HistoryWriteRecord{"DELETE FROM %@ WHERE sample < ?", "hour_cpuhistory", {Value(2)}});
    longterm->addItem(insert("cpuhistory", 1));
    longterm->addItem(insert("cpuhistory", 2));

    ASSERT_TRUE(local->commitSync());
    ASSERT_TRUE(longterm->commitSync());
    EXPECT_TRUE(local->queries().empty());
    EXPECT_EQ(localCommits.commits(), std::vector<int>({7}));  // 6 inserts + 1 delete, one commit
    EXPECT_EQ(longCommits.commits(), std::vector<int>({2}));

    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select sample, value from hour_cpuhistory order by sample"),
              "2.0|3.0\n3.0|4.5\n4.0|6.0\n5.0|7.5\n");
    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select count(*) from day_cpuhistory"), "1\n");
    EXPECT_EQ(sqliteTool(dbPath("longterm.db"), "select group_concat(sample) from cpuhistory"), "1.0,2.0\n");

    // A failing record does not stop the others of its commit.
    local->addItem(insert("hour_cpuhistory", 6));
    local->addItem(insert("hour_cpuhistory", 6));           // unique constraint
    local->addItem(insert("nosuchtable", 1));                // missing table
    local->addItem(HistoryWriteRecord{"INSERT INTO %@ (sample, time, value) VALUES (?, ?, ?)", "hour_cpuhistory",
                                      {Value(7)}});  // too few arguments
    local->addItem(insert("hour_cpuhistory", 8));
    ASSERT_TRUE(local->commitSync());
    EXPECT_EQ(localCommits.commits().size(), 2u);
    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select group_concat(sample) from hour_cpuhistory"),
              "2.0,3.0,4.0,5.0,6.0,8.0\n");

    // An empty commit still runs an (empty) transaction.
    ASSERT_TRUE(longterm->commitSync());
    EXPECT_EQ(sqliteTool(dbPath("longterm.db"), "select count(*) from cpuhistory"), "2\n");
}

TEST_F(HistoryDatabaseTest, AWriteQueuedDuringACommitLandsInTheNextOne) {
    HistoryDatabaseItemPtr local = databaseItemWithPath(dbPath("local.db"));
    createTable(local, "hour_loadhistory");
    CommitCounter commits;
    commits.attach(local);

    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, released = false;
    local->queryDatabase([&](const FMDatabasePtr& db) {
        db->makeFunctionNamed("hold", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
            std::unique_lock<std::mutex> lock(mutex);
            entered = true;
            cv.notify_all();
            cv.wait(lock, [&] { return released; });
            sqlite3_result_double(context, 1.0);
        });
    });
    local->addItem(HistoryWriteRecord{"INSERT INTO %@ (sample, time, value) VALUES (?, ?, hold())",
                                      "hour_loadhistory", {Value(1), Value(1001)}});
    local->commit();
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return entered; });
    }
    EXPECT_TRUE(local->busy());
    local->addItem(insert("hour_loadhistory", 2));
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    cv.notify_all();
    ASSERT_TRUE(local->commitSync());
    EXPECT_FALSE(local->busy());
    // The first commit held one row, the second the row queued meanwhile.
    EXPECT_EQ(commits.commits(), std::vector<int>({1, 2}));
    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select group_concat(sample) from hour_loadhistory"), "1.0,2.0\n");
}

TEST_F(HistoryDatabaseTest, CommitAgainstAFileLockedByAnotherProcessReportsFailureAndKeepsTheWrites) {
    HistoryDatabaseItemPtr local = databaseItemWithPath(dbPath("local.db"));
    createTable(local, "hour_cpuhistory");
    platform::Clock::useVirtual(5000);
    int sleeps = 0;
    FMDatabase::setBusySleepForTesting([&](int ms) {
        ++sleeps;
        platform::Clock::advance(ms / 1000.0);
    });
    {
        ExclusiveLockHolder holder(dbPath("local.db"));
        ASSERT_TRUE(holder.locked()) << "the sqlite3 tool could not be started as the second process";
        for (int i = 1; i <= 3; ++i) local->addItem(insert("hour_cpuhistory", i));
        LogCapture log;
        double start = platform::Clock::monotonic();
        EXPECT_FALSE(local->commitSync());
        double waited = platform::Clock::monotonic() - start;
        // One wait of about 2 s for the transaction, not one per record.
        EXPECT_GE(waited, 2.0);
        EXPECT_LT(waited, 2.1);
        EXPECT_TRUE(log.contains("writes wait for the next commit"));
        EXPECT_EQ(local->queries().size(), 3u);

        // A synchronous read reports the failure too.
        bool readFailed = false;
        local->queryDatabase([&](const FMDatabasePtr& db) {
            FMResultSetPtr rs = db->executeQuery("SELECT * FROM hour_cpuhistory");
            ErrorPtr error;
            readFailed = !rs || (!rs->nextWithError(&error) && error && error->code == SQLITE_BUSY);
        });
        EXPECT_TRUE(readFailed);
        local->addItem(insert("hour_cpuhistory", 4));
    }
    FMDatabase::setBusySleepForTesting(nullptr);
    platform::Clock::useReal();
    EXPECT_GT(sleeps, 0);
    ASSERT_TRUE(local->commitSync());
    EXPECT_TRUE(local->queries().empty());
    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select group_concat(sample) from hour_cpuhistory"),
              "1.0,2.0,3.0,4.0\n");
}

// A full or failing disk: the commit is rolled back and its writes wait, in order, for the
// next one; what waits for a table is bounded by the ring's reach; a statement that fails
// on its own (a missing table) still does not hold the others back; the failure and the
// recovery are logged once each, not per commit.
TEST_F(HistoryDatabaseTest, ACommitThatCannotBeWrittenKeepsItsWritesInOrderWithinTheRingsReach) {
    history::WriteFaultVfs::install();
    for (int code : {SQLITE_FULL, SQLITE_IOERR_WRITE}) {
        SCOPED_TRACE(code);
        HistoryDatabaseController::resetForTesting();
        std::filesystem::remove(fs::resolve(dbPath("failing.db")));
        HistoryDatabaseItemPtr file = databaseItemWithPath(dbPath("failing.db"));
        createTable(file, "hour_cpuhistory");
        file->addItem(insert("hour_cpuhistory", 1));
        ASSERT_TRUE(file->commitSync());

        LogCapture log;
        history::WriteFaultVfs::setFault(code, "failing.db");
        const long failedBefore = history::WriteFaultVfs::failedWrites();
        // Two commits fail: 2..400, then 401..800 with a prune and a write to a missing table.
        for (int i = 2; i <= 400; ++i) {
            HistoryWriteRecord r = insert("hour_cpuhistory", i);
            r.sample = i;
            file->addItem(r);
        }
        EXPECT_FALSE(file->commitSync());
        for (int i = 401; i <= 800; ++i) {
            HistoryWriteRecord r = insert("hour_cpuhistory", i);
            r.sample = i;
            file->addItem(r);
            if (i == 600) file->addItem(HistoryWriteRecord{"DELETE FROM %@ WHERE sample < ?", "hour_cpuhistory", {Value(1.0)}});
        }
        file->addItem(insert("no_such_table", 1));
        EXPECT_FALSE(file->commitSync());
        EXPECT_GT(history::WriteFaultVfs::failedWrites(), failedBefore) << "the seam failed no write";
        // Of the table, the newest 602 sample numbers wait (198 to 800), with the prune and
        // the write to the missing table.
        auto waiting = file->queries();
        ASSERT_EQ(waiting.size(), 603u + 2u);
        EXPECT_EQ(waiting.front().sample.value_or(0), 198);
        EXPECT_EQ(sqliteTool(dbPath("failing.db"), "select count(*) from hour_cpuhistory"), "1\n");

        history::WriteFaultVfs::clearFault();
        file->addItem(insert("hour_cpuhistory", 801));
        ASSERT_TRUE(file->commitSync());
        EXPECT_TRUE(file->queries().empty());
        // Row 1, then every row that waited, in the order they were queued.
        std::string expected = "1.0";
        for (int i = 198; i <= 801; ++i) expected += "," + std::to_string(i) + ".0";
        EXPECT_EQ(sqliteTool(dbPath("failing.db"),
                             "select group_concat(sample) from (select sample from hour_cpuhistory order by rowid)"),
                  expected + "\n");
        int failures = 0, recoveries = 0;
        for (const std::string& line : log.lines()) {
            if (line.find("writes wait for the next commit") != std::string::npos) ++failures;
            if (line.find("is written again: 606 writes that waited were committed") != std::string::npos) ++recoveries;
        }
        EXPECT_EQ(failures, 1) << "one line when the file starts failing";
        EXPECT_EQ(recoveries, 1) << "one line when it writes again";
        EXPECT_TRUE(log.contains(code == SQLITE_FULL ? "database or disk is full" : "disk I/O error"));
    }
    HistoryDatabaseController::resetForTesting();
}

TEST_F(HistoryDatabaseTest, StopCommitsThePendingWritesOfEveryFile) {
    HistoryDatabaseItemPtr local = databaseItemWithPath(dbPath("local.db"));
    HistoryDatabaseItemPtr longterm = databaseItemWithPath(dbPath("longterm.db"));
    createTable(local, "hour_memoryhistory");
    createTable(longterm, "memoryhistory");
    local->addItem(insert("hour_memoryhistory", 1));
    longterm->addItem(insert("memoryhistory", 1));
    EXPECT_TRUE(HistoryDatabaseController::sharedHistoryDatabaseController().commitAllSync());
    EXPECT_EQ(sqliteTool(dbPath("local.db"), "select count(*) from hour_memoryhistory"), "1\n");
    EXPECT_EQ(sqliteTool(dbPath("longterm.db"), "select count(*) from memoryhistory"), "1\n");
}

TEST_F(HistoryDatabaseTest, CorruptFileIsInvalidAndReopensEmptyAfterDeletion) {
    const std::string path = dbPath("local.db");
    sqliteTool(path,
               "create table hour_cpuhistory (sample integer primary key, payload text);"
               "with recursive n(x) as (select 1 union all select x + 1 from n where x < 2000) "
               "insert into hour_cpuhistory select x, hex(randomblob(40)) from n;");
    {
        HistoryDatabaseItemPtr item = databaseItemWithPath(path);
        bool valid = false;
        item->queryDatabase([&](const FMDatabasePtr& db) { valid = db->isDatabaseValid(); });
        EXPECT_TRUE(valid);
        HistoryDatabaseController::sharedHistoryDatabaseController().closeDatabase(path);
    }
    {
        // Damage a b-tree page in the middle of the file.
        std::fstream f(fs::resolve(path), std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.good());
        f.seekp(4096 * 3);
        std::string junk(64, '\xff');
        f.write(junk.data(), std::streamsize(junk.size()));
    }
    EXPECT_EQ(sqliteTool(path, "pragma integrity_check").find("ok"), std::string::npos);

    HistoryDatabaseItemPtr item = databaseItemWithPath(path);
    bool valid = true;
    LogCapture log;
    item->queryDatabase([&](const FMDatabasePtr& db) { valid = db->isDatabaseValid(); });
    EXPECT_FALSE(valid);

    HistoryDatabaseController::sharedHistoryDatabaseController().deleteDatabase(path);
    EXPECT_FALSE(fs::exists(path));
    HistoryDatabaseItemPtr fresh = databaseItemWithPath(path);
    ASSERT_NE(fresh, item);
    bool exists = true;
    fresh->queryDatabase([&](const FMDatabasePtr& db) {
        valid = db->isDatabaseValid();
        exists = db->tableExists("hour_cpuhistory");
    });
    EXPECT_TRUE(valid);
    EXPECT_FALSE(exists);
    EXPECT_EQ(sqliteTool(path, "pragma integrity_check"), "ok\n");
}

TEST_F(HistoryDatabaseTest, LockedFileDuringTheIntegrityCheckCountsAsValid) {
    const std::string path = dbPath("locked.db");
    sqliteTool(path, "create table t (a); insert into t values (1);");
    HistoryDatabaseItemPtr item = databaseItemWithPath(path);
    ExclusiveLockHolder holder(path);
    ASSERT_TRUE(holder.locked()) << "the sqlite3 tool could not be started as the second process";
    bool valid = false;
    LogCapture log;
    platform::Clock::useVirtual(0);
    FMDatabase::setBusySleepForTesting([](int ms) { platform::Clock::advance(ms / 1000.0); });
    item->queryDatabase([&](const FMDatabasePtr& db) { valid = db->isDatabaseValid(); });
    FMDatabase::setBusySleepForTesting(nullptr);
    platform::Clock::useReal();
    EXPECT_TRUE(valid);
    EXPECT_TRUE(log.contains("Result is simple BUSY of the sqllite3 on isDatabaseCorrupted"));
    holder.release();
    EXPECT_EQ(sqliteTool(path, "select count(*) from t"), "1\n");
}

TEST_F(HistoryDatabaseTest, QueriesRunOnTheFilesQueueAndAsyncOnesInOrder) {
    HistoryDatabaseItemPtr item = databaseItemWithPath(dbPath("local.db"));
    createTable(item, "hour_cpuhistory");
    bool onQueue = false;
    item->queryDatabase([&](const FMDatabasePtr&) {
        onQueue = dispatch::Queue::getSpecific(kDBDispatchQueueSpecificKey) == item.get();
    });
    EXPECT_TRUE(onQueue);

    std::vector<int> order;
    std::mutex mutex;
    item->addItem(insert("hour_cpuhistory", 1));
    item->queryDatabaseAsync([&](const FMDatabasePtr&) {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(1);
    });
    item->commit();
    item->queryDatabaseAsync([&](const FMDatabasePtr& db) {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(db->intForQuery("select count(*) from hour_cpuhistory") == 1 ? 2 : -2);
    });
    item->queryDatabase([](const FMDatabasePtr&) {});
    EXPECT_EQ(order, std::vector<int>({1, 2}));

    LogCapture log;
    FMResultSetPtr leaked;
    item->queryDatabase([&](const FMDatabasePtr& db) { leaked = db->executeQuery("select * from hour_cpuhistory"); });
    EXPECT_TRUE(log.contains("Warning: there is at least one open result set around after performing "
                             "[FMDatabaseQueue inDatabase:]"));
    item->queryDatabase([&](const FMDatabasePtr&) { leaked.reset(); });
}

TEST_F(HistoryDatabaseTest, FileThatCannotBeOpenedStaysInTheTableAndFailsQuietly) {
    LogCapture log;
    HistoryDatabaseItemPtr item = databaseItemWithPath(std::string("/no/such/folder/local.db"));
    ASSERT_TRUE(item);
    EXPECT_TRUE(log.contains("Could not open db."));
    EXPECT_EQ(databaseItemWithPath(std::string("/no/such/folder/local.db")), item);
    item->addItem(insert("t", 1));
    EXPECT_FALSE(item->commitSync());
    EXPECT_TRUE(item->queries().empty());  // nothing to wait for: the writes are dropped
}

TEST_F(HistoryDatabaseTest, CloseDropsPendingWritesAndTheNextLookupOpensAgain) {
    const std::string path = dbPath("local.db");
    HistoryDatabaseItemPtr item = databaseItemWithPath(path);
    createTable(item, "hour_cpuhistory");
    item->addItem(insert("hour_cpuhistory", 1));
    HistoryDatabaseController::sharedHistoryDatabaseController().closeDatabase(path);
    EXPECT_EQ(item->database()->sqliteHandle(), nullptr);
    HistoryDatabaseItemPtr again = databaseItemWithPath(path);
    EXPECT_NE(again, item);
    again->addItem(insert("hour_cpuhistory", 2));
    ASSERT_TRUE(again->commitSync());
    EXPECT_EQ(sqliteTool(path, "select group_concat(sample) from hour_cpuhistory"), "2.0\n");
}

TEST_F(HistoryDatabaseTest, RestoreBackupReplacesTheFileWithAValidCopy) {
    const std::string path = dbPath("local.db");
    const std::string backup = dbPath("backup.db");
    sqliteTool(backup, "create table kept (a); insert into kept values (1);");
    HistoryDatabaseItemPtr item = databaseItemWithPath(path);
    createTable(item, "hour_cpuhistory");
    auto& controller = HistoryDatabaseController::sharedHistoryDatabaseController();
    EXPECT_FALSE(controller.restoreBackup(dbPath("nothing.db"), path));
    ASSERT_TRUE(controller.restoreBackup(backup, path));
    EXPECT_EQ(sqliteTool(path, ".tables"), "kept\n");
    EXPECT_NE(databaseItemWithPath(path), item);
}

TEST_F(HistoryDatabaseTest, RecordTextTakesTheTableForEveryPlaceholder) {
    EXPECT_EQ(HistoryWriteRecord::historyStatementText("DELETE FROM %@ WHERE sample < ?", "hour_cpuhistory"),
              "DELETE FROM hour_cpuhistory WHERE sample < ?");
    EXPECT_EQ(HistoryWriteRecord::historyStatementText("CREATE INDEX %@_i ON %@ (sample)", "t"),
              "CREATE INDEX t_i ON t (sample)");
    EXPECT_EQ(HistoryWriteRecord::historyStatementText("SELECT '%d' FROM %@", "t"), "SELECT '%d' FROM t");
    HistoryWriteRecord record{"UPDATE %@ SET low = ?", "sensor_limits", {Value(1.5)}};
    HistoryWriteRecord back = HistoryWriteRecord::fromDictionary(record.dictionary());
    EXPECT_EQ(back.format, record.format);
    EXPECT_EQ(back.table, record.table);
    EXPECT_EQ(back.args, record.args);
}

using HistoryDatabaseDeathTest = HistoryDatabaseTest;

TEST_F(HistoryDatabaseDeathTest, SynchronousQueryFromTheFilesOwnQueueStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            HistoryDatabaseItemPtr item = databaseItemWithPath(dbPath("local.db"));
            item->queryDatabase([&](const FMDatabasePtr&) { item->queryDatabase([](const FMDatabasePtr&) {}); });
        },
        "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock");
}

}  // namespace
}  // namespace telvo
