// The database queue and pool over real files.
#include <gtest/gtest.h>

#include <thread>

#include "history/FMDatabasePool.h"
#include "history/FMDatabaseQueue.h"
#include "history/HistoryTestSupport.h"

namespace telvo {
namespace {

using testing::LogCapture;
using testing::sqliteTool;

class FMDatabaseQueueTest : public testing::TempRootTest {};

TEST_F(FMDatabaseQueueTest, QueueSerialisesWorkFromSeveralThreads) {
    FMDatabaseQueuePtr queue = FMDatabaseQueue::databaseQueueWithPath(dbPath("q.db"));
    ASSERT_TRUE(queue);
    EXPECT_EQ(queue->queue()->label(), "fmdb." + queue->description());
    queue->inDatabase([](const FMDatabasePtr& db) { ASSERT_TRUE(db->executeUpdate("create table t (a)")); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i)
                queue->inDatabase([&](const FMDatabasePtr& db) { db->executeUpdate("insert into t values (?)", {Value(t * 100 + i)}); });
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(sqliteTool(dbPath("q.db"), "select count(*) from t"), "100\n");

    queue->inTransaction([](const FMDatabasePtr& db, bool* rollback) {
        db->executeUpdate("insert into t values (-1)");
        *rollback = true;
    });
    queue->inDeferredTransaction([](const FMDatabasePtr& db, bool*) { db->executeUpdate("insert into t values (-2)"); });
    ErrorPtr error = queue->inSavePoint([](const FMDatabasePtr& db, bool* rollback) {
        db->executeUpdate("insert into t values (-3)");
        *rollback = true;
    });
    EXPECT_FALSE(error);
    EXPECT_EQ(sqliteTool(dbPath("q.db"), "select group_concat(a) from t where a < 0"), "-2\n");

    // After close the next use opens the file again.
    queue->close();
    int count = 0;
    queue->inDatabase([&](const FMDatabasePtr& db) { count = db->intForQuery("select count(*) from t"); });
    EXPECT_EQ(count, 101);
}

TEST_F(FMDatabaseQueueTest, QueueCreationFailsForAFileThatCannotBeOpened) {
    LogCapture log;
    EXPECT_FALSE(FMDatabaseQueue::databaseQueueWithPath(std::string("/no/such/dir/q.db")));
    EXPECT_TRUE(log.contains("Could not create database queue for path /no/such/dir/q.db"));
    EXPECT_FALSE(FMDatabaseQueue::databaseQueueWithPath(dbPath("absent.db"), SQLITE_OPEN_READWRITE));
}

TEST_F(FMDatabaseQueueTest, QueueWarnsAboutResultSetsLeftOpen) {
    FMDatabaseQueuePtr queue = FMDatabaseQueue::databaseQueueWithPath(std::nullopt);
    ASSERT_TRUE(queue);
    LogCapture log;
    FMResultSetPtr rs;
    queue->inDatabase([&](const FMDatabasePtr& db) { rs = db->executeQuery("select 1"); });
    EXPECT_TRUE(log.contains("Warning: there is at least one open result set around after performing "
                             "[FMDatabaseQueue inDatabase:]"));
    queue->inDatabase([&](const FMDatabasePtr&) { rs.reset(); });
}

using FMDatabaseQueueDeathTest = FMDatabaseQueueTest;

TEST_F(FMDatabaseQueueDeathTest, ReentrantUseStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            FMDatabaseQueuePtr queue = FMDatabaseQueue::databaseQueueWithPath(std::nullopt);
            queue->inDatabase([&](const FMDatabasePtr&) { queue->inDatabase([](const FMDatabasePtr&) {}); });
        },
        "inDatabase: was called reentrantly on the same queue");
}

TEST_F(FMDatabaseQueueTest, PoolLendsReusesAndLimitsConnections) {
    FMDatabasePoolPtr pool = FMDatabasePool::databasePoolWithPath(dbPath("pool.db"));
    int added = 0;
    FMDatabasePoolDelegate delegate;
    delegate.databasePoolDidAddDatabase = [&](FMDatabasePool&, const FMDatabasePtr&) { ++added; };
    pool->setDelegate(delegate);
    pool->inDatabase([](const FMDatabasePtr& db) { ASSERT_TRUE(db->executeUpdate("create table t (a)")); });
    EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
    EXPECT_EQ(added, 1);

    FMDatabasePtr a = pool->db();
    FMDatabasePtr b = pool->db();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(pool->countOfCheckedOutDatabases(), 2u);
    EXPECT_EQ(added, 2);
    pool->setMaximumNumberOfDatabasesToCreate(2);
    LogCapture log;
    EXPECT_FALSE(pool->db());
    EXPECT_TRUE(log.contains("Maximum number of databases (2) has already been reached!"));
    pool->pushDatabaseBackInPool(a);
    pool->pushDatabaseBackInPool(a);  // already idle: refused, nothing changes
    EXPECT_TRUE(log.contains("Database already in pool"));
    EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
    EXPECT_EQ(pool->db(), a);
    pool->pushDatabaseBackInPool(a);
    pool->pushDatabaseBackInPool(b);
    EXPECT_EQ(pool->countOfOpenDatabases(), 2u);

    pool->inTransaction([](const FMDatabasePtr& db, bool*) { db->executeUpdate("insert into t values (1)"); });
    pool->inDeferredTransaction([](const FMDatabasePtr& db, bool* rollback) {
        db->executeUpdate("insert into t values (2)");
        *rollback = true;
    });
    EXPECT_FALSE(pool->inSavePoint([](const FMDatabasePtr& db, bool*) { db->executeUpdate("insert into t values (3)"); }));
    EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
    EXPECT_EQ(sqliteTool(dbPath("pool.db"), "select group_concat(a) from t"), "1,3\n");

    FMDatabasePoolDelegate refuse;
    refuse.databasePoolShouldAddDatabaseToPool = [](FMDatabasePool&, const FMDatabasePtr&) { return false; };
    pool->setDelegate(refuse);
    EXPECT_FALSE(pool->db());
    pool->releaseAllDatabases();
    EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
}

}  // namespace
}  // namespace telvo
