// The SQLite access layer against real files, read back with the sqlite3 tool.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

#include "history/FMDatabase.h"
#include "history/HistoryTestSupport.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

using testing::ExclusiveLockHolder;
using testing::LogCapture;
using testing::sqliteTool;

class FMDatabaseTest : public testing::TempRootTest {
protected:
    FMDatabasePtr openDb(const std::string& name = "test.db") {
        FMDatabasePtr db = FMDatabase::databaseWithPath(dbPath(name));
        EXPECT_TRUE(db->open());
        return db;
    }
};

TEST_F(FMDatabaseTest, OpenCreatesTheFileUnderTheRootAndOpenTwiceKeepsTheHandle) {
    FMDatabasePtr db = FMDatabase::databaseWithPath(dbPath("a.db"));
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_TRUE(db->close());  // never opened
    ASSERT_TRUE(db->open());
    sqlite3* handle = db->sqliteHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(db->open());
    EXPECT_EQ(db->sqliteHandle(), handle);
    EXPECT_TRUE(db->goodConnection());
    EXPECT_EQ(db->sqlitePath(), root_ + dbPath("a.db"));
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    EXPECT_TRUE(db->close());
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_FALSE(db->goodConnection());
    EXPECT_EQ(sqliteTool(dbPath("a.db"), ".tables"), "t\n");
}

TEST_F(FMDatabaseTest, OpenWithFlagsHonoursReadOnlyAndMissingFiles) {
    FMDatabasePtr missing = FMDatabase::databaseWithPath(dbPath("missing.db"));
    LogCapture log;
    EXPECT_FALSE(missing->openWithFlags(SQLITE_OPEN_READWRITE));
    EXPECT_EQ(missing->sqliteHandle(), nullptr);
    EXPECT_TRUE(log.contains("error opening!: 14"));
    EXPECT_FALSE(fs::exists(dbPath("missing.db")));

    sqliteTool(dbPath("ro.db"), "create table t(a); insert into t values (1);");
    FMDatabasePtr ro = FMDatabase::databaseWithPath(dbPath("ro.db"));
    ASSERT_TRUE(ro->openWithFlags(SQLITE_OPEN_READONLY));
    EXPECT_EQ(ro->intForQuery("select a from t"), 1);
    EXPECT_FALSE(ro->executeUpdate("insert into t values (2)"));
    EXPECT_EQ(ro->lastErrorCode(), SQLITE_READONLY);

    FMDatabasePtr memory = FMDatabase::databaseWithPath(std::nullopt);
    EXPECT_EQ(memory->sqlitePath(), ":memory:");
    ASSERT_TRUE(memory->open());
    EXPECT_TRUE(memory->executeUpdate("create table t (a)"));
}

// The bind table, checked with typeof() and the sqlite3 tool.
TEST_F(FMDatabaseTest, BindTableStoresEachValueKindAsItsSQLiteType) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (k text, v)"));
    struct Case {
        const char* key;
        Value value;
        const char* type;
        const char* stored;  // quote(v) as the sqlite3 tool prints it
    };
    const Case cases[] = {
        {"null", Value(), "null", "NULL"},
        {"true", Value(true), "integer", "1"},
        {"false", Value(false), "integer", "0"},
        {"int", Value(-42), "integer", "-42"},
        {"unsigned", Value(4000000000u), "integer", "4000000000"},
        {"uint64max", Value(18446744073709551615ull), "integer", "-1"},  // same bits
        {"double", Value(2.5), "real", "2.5"},
        {"string", Value("hello 'x'"), "text", "'hello ''x'''"},
        {"emptydata", Value(Bytes{}), "blob", "X''"},
        {"data", Value(Bytes{0x00, 0xff}), "blob", "X'00FF'"},
        {"date", Value::dateFromSeconds(1000.5), "real", "1000.5"},
        {"array", Value(ValueArray{Value(1), Value("a")}), "text", "'(\n    1,\n    a\n)'"},
    };
    for (const Case& c : cases)
        ASSERT_TRUE(db->executeUpdate("insert into t values (?, ?)", {Value(c.key), c.value})) << c.key;
    db->close();
    for (const Case& c : cases) {
        std::string sql = std::string("select typeof(v), quote(v) from t where k = '") + c.key + "'";
        EXPECT_EQ(sqliteTool(dbPath("test.db"), sql), std::string(c.type) + "|" + c.stored + "\n") << c.key;
    }
}

TEST_F(FMDatabaseTest, BindCountTooFewFailsAndTooManyUsesTheFirst) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (a, b)"));
    LogCapture log;
    ErrorPtr error;
    EXPECT_FALSE(db->executeUpdate("insert into t values (?, ?)", {Value(1)}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "FMDatabase");
    EXPECT_EQ(error->message,
              "Error: the bind count (1) is not correct for the # of variables in the query (2) (insert into t "
              "values (?, ?)) (executeUpdate)");
    EXPECT_TRUE(log.contains("Error: the bind count (1) is not correct"));
    EXPECT_TRUE(db->executeUpdate("insert into t values (?, ?)", {Value(1), Value(2), Value(3)}));
    EXPECT_FALSE(db->executeQuery("select * from t where a = ? and b = ?", {Value(1)}));
    EXPECT_TRUE(log.contains("Error: the bind count is not correct for the # of variables (executeQuery)"));
    db->close();
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "select a, b from t"), "1|2\n");
}

TEST_F(FMDatabaseTest, UpdateOfARowYieldingTextAndFailedPrepareAnswerNo) {
    FMDatabasePtr db = openDb();
    ErrorPtr error;
    LogCapture log;
    EXPECT_FALSE(db->executeUpdate("select 1", {}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "A executeUpdate is being called with a query string 'select 1'");
    EXPECT_FALSE(db->executeUpdate("not sql at all", {}, &error));
    EXPECT_NE(error->message.find("syntax error"), std::string::npos);
    EXPECT_TRUE(log.contains("DB Query: not sql at all"));
    EXPECT_FALSE(db->executeQuery("select * from nowhere"));
    ErrorPtr queryError;
    EXPECT_FALSE(db->executeQuery("select * from nowhere", {}, &queryError));
    ASSERT_TRUE(queryError);
    EXPECT_EQ(queryError->code, SQLITE_ERROR);
    EXPECT_EQ(queryError->message, "no such table: nowhere");
    EXPECT_TRUE(db->hadError());
    // Silent when logging is off; the connection stays usable.
    db->setLogsErrors(false);
    LogCapture quiet;
    EXPECT_FALSE(db->executeUpdate("not sql at all"));
    EXPECT_TRUE(quiet.lines().empty());
    EXPECT_TRUE(db->executeUpdate("create table ok (a)"));
}

TEST_F(FMDatabaseTest, ParameterDictionaryBindsByNameAndReportsUnknownNames) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (a, b)"));
    EXPECT_TRUE(db->executeUpdateWithParameterDictionary("insert into t values (:a, :b)",
                                                         {{"a", Value(1)}, {"b", Value("x")}}));
    LogCapture log;
    EXPECT_FALSE(db->executeUpdateWithParameterDictionary("insert into t values (:a, :b)",
                                                          {{"a", Value(1)}, {"c", Value(3)}}));
    EXPECT_TRUE(log.contains("Could not find index for c"));
    FMResultSetPtr rs = db->executeQueryWithParameterDictionary("select b from t where a = :a", {{"a", Value(1)}});
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->stringForColumn("b"), "x");
    EXPECT_FALSE(rs->next());
    EXPECT_TRUE(db->executeUpdateWithFormat("insert into t values (%d, %@)", {Value(7), Value("y")}));
    EXPECT_EQ(db->stringForQuery("select b from t where a = 7"), "y");
}

TEST_F(FMDatabaseTest, ResultSetReadsNullAsTheNullValueAndFindsColumnsInAnyCase) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (Sample integer, Time real, Name text, Blob blob, Empty)"));
    ASSERT_TRUE(db->executeUpdate("insert into t values (?, ?, ?, ?, ?)",
                                  {Value(3), Value(1.5), Value("n"), Value(Bytes{1, 2}), Value()}));
    FMResultSetPtr rs = db->executeQuery("select * from t");
    ASSERT_TRUE(rs);
    EXPECT_TRUE(db->hasOpenResultSets());
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->columnCount(), 5);
    EXPECT_EQ(rs->columnIndexForName("sAMPLE"), 0);
    EXPECT_EQ(rs->columnNameForIndex(0), "Sample");
    EXPECT_TRUE((*rs)["empty"].isNull());
    EXPECT_TRUE(rs->columnIsNull("Empty"));
    EXPECT_FALSE(rs->stringForColumn("Empty"));
    EXPECT_TRUE((*rs)[4].isNull());
    EXPECT_TRUE((*rs)[-1].isNull());
    EXPECT_TRUE((*rs)[99].isNull());
    EXPECT_TRUE((*rs)["SAMPLE"].isInteger());
    EXPECT_EQ((*rs)["SAMPLE"].intValue(), 3);
    EXPECT_TRUE((*rs)["time"].isDouble());
    EXPECT_EQ((*rs)["name"], Value("n"));
    EXPECT_EQ((*rs)["blob"], Value(Bytes{1, 2}));
    EXPECT_EQ(rs->longLongIntForColumn("sample"), 3);
    EXPECT_DOUBLE_EQ(rs->doubleForColumn("time"), 1.5);
    EXPECT_EQ(rs->dateForColumn("time")->seconds, 1.5);
    EXPECT_STREQ(rs->UTF8StringForColumn("name"), "n");

    LogCapture log;
    EXPECT_TRUE((*rs)["nosuchcolumn"].isNull());
    EXPECT_FALSE(rs->stringForColumn("nosuchcolumn"));
    EXPECT_TRUE(log.contains("Warning: I could not find the column named 'nosuchcolumn'."));

    Value row = rs->resultDictionary();
    ASSERT_TRUE(row.isDictionary());
    EXPECT_EQ(row.count(), 5u);
    EXPECT_TRUE(row.has("Sample"));
    EXPECT_FALSE(row.has("sample"));
    EXPECT_TRUE(row.has("Empty"));
    EXPECT_TRUE(row["Empty"].isNull());
    EXPECT_TRUE(rs->resultDict().has("sample"));

    // After the last row the set closes itself; a further next steps nothing.
    EXPECT_FALSE(rs->next());
    EXPECT_TRUE(rs->isClosed());
    EXPECT_FALSE(db->hasOpenResultSets());
    ErrorPtr error;
    EXPECT_FALSE(rs->nextWithError(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, SQLITE_MISUSE);
    EXPECT_EQ(error->message, "parentDB does not exist");
    EXPECT_TRUE(rs->resultDictionary().isNull());
}

TEST_F(FMDatabaseTest, EmptyBlobReadsAsNoDataAndResultSetKeepsItsConnectionAlive) {
    FMResultSetPtr rs;
    {
        FMDatabasePtr db = openDb();
        ASSERT_TRUE(db->executeUpdate("create table t (b blob)"));
        ASSERT_TRUE(db->executeUpdate("insert into t values (?)", {Value(Bytes{})}));
        rs = db->executeQuery("select b, typeof(b) from t");
    }
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(1), "blob");
    EXPECT_FALSE(rs->dataForColumnIndex(0));
    EXPECT_TRUE(rs->objectForColumnIndex(0).isNull());
    rs->close();
    rs->close();  // harmless
    EXPECT_FALSE(rs->parentDB());
}

TEST_F(FMDatabaseTest, StatementCacheReusesOneStatementPerTextUntilItIsInUse) {
    FMDatabasePtr db = openDb();
    db->setShouldCacheStatements(true);
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    const std::string insert = "insert into t values (?)";
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(db->executeUpdate(insert, {Value(i)}));
    auto cached = db->cachedStatementsForQuery(insert);
    ASSERT_EQ(cached.size(), 1u);
    EXPECT_EQ(cached[0]->useCount(), 5);
    EXPECT_NE(cached[0]->description().find("5 hit(s) for query insert into t values (?)"), std::string::npos);

    const std::string select = "select a from t order by a";
    FMResultSetPtr first = db->executeQuery(select);
    ASSERT_TRUE(first->next());
    // The first statement is being read: a second run of the text prepares another one.
    FMResultSetPtr second = db->executeQuery(select);
    ASSERT_TRUE(second->next());
    EXPECT_EQ(db->cachedStatementsForQuery(select).size(), 2u);
    EXPECT_NE(first->statement(), second->statement());
    EXPECT_EQ(first->intForColumnIndex(0), 0);
    ASSERT_TRUE(first->next());
    EXPECT_EQ(first->intForColumnIndex(0), 1);
    first->close();
    second->close();
    // Both idle now; the next run takes one of them, from its first row.
    FMResultSetPtr third = db->executeQuery(select);
    ASSERT_TRUE(third->next());
    EXPECT_EQ(third->intForColumnIndex(0), 0);
    EXPECT_EQ(db->cachedStatementsForQuery(select).size(), 2u);
    third->close();

    db->setShouldCacheStatements(false);
    EXPECT_TRUE(db->cachedStatementsForQuery(insert).empty());
    EXPECT_TRUE(db->executeUpdate(insert, {Value(9)}));
}

// A statement whose bind count failed is finalized; the cache must never hand it out again.
TEST_F(FMDatabaseTest, StatementFinalizedAfterABindCountFailureLeavesTheCache) {
    FMDatabasePtr db = openDb();
    db->setShouldCacheStatements(true);
    ASSERT_TRUE(db->executeUpdate("create table t (a, b)"));
    const std::string insert = "insert into t values (?, ?)";
    ASSERT_TRUE(db->executeUpdate(insert, {Value(1), Value(1)}));
    ASSERT_EQ(db->cachedStatementsForQuery(insert).size(), 1u);
    EXPECT_FALSE(db->executeUpdate(insert, {Value(2)}));
    EXPECT_TRUE(db->cachedStatementsForQuery(insert).empty());
    ASSERT_TRUE(db->executeUpdate(insert, {Value(3), Value(3)}));
    ASSERT_TRUE(db->executeUpdate(insert, {Value(4), Value(4)}));

    const std::string select = "select b from t where a = ?";
    FMResultSetPtr rs = db->executeQuery(select, {Value(3)});
    ASSERT_TRUE(rs && rs->next());
    rs->close();
    EXPECT_FALSE(db->executeQuery(select));
    EXPECT_TRUE(db->cachedStatementsForQuery(select).empty());
    rs = db->executeQuery(select, {Value(4)});
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 4);
    rs->close();
    db->close();
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "select a from t order by a"), "1\n3\n4\n");
}

TEST_F(FMDatabaseTest, TextAndBytesAreCopiedWhenBound) {
    FMDatabasePtr db = openDb();
    db->setShouldCacheStatements(true);
    ASSERT_TRUE(db->executeUpdate("create table t (a text, b blob)"));
    ASSERT_TRUE(db->executeUpdate("insert into t values ('keep', x'01')"));
    FMResultSetPtr rs;
    {
        // The arguments die before the query is stepped.
        ValueArray args{Value(std::string("ke") + "ep"), Value(Bytes{1})};
        rs = db->executeQuery("select count(*) from t where a = ? and b = ?", args);
        args[0] = Value(std::string(64, 'z'));
        args[1] = Value(Bytes(64, 9));
    }
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 1);
    rs->close();
}

TEST_F(FMDatabaseTest, CloseWithAnOpenResultSetClosesItFirst) {
    FMDatabasePtr db = openDb();
    db->setShouldCacheStatements(true);
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    ASSERT_TRUE(db->executeUpdate("insert into t values (1), (2)"));
    FMResultSetPtr cached = db->executeQuery("select a from t");
    ASSERT_TRUE(cached->next());
    db->setShouldCacheStatements(false);
    FMResultSetPtr uncached = db->executeQuery("select a from t where a > 0");
    ASSERT_TRUE(uncached->next());
    EXPECT_EQ(db->openResultSetCount(), 2u);
    // A statement prepared on the raw handle behind the layer's back.
    sqlite3_stmt* leaked = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db->sqliteHandle(), "select 1", -1, &leaked, nullptr), SQLITE_OK);
    LogCapture log;
    EXPECT_TRUE(db->close());
    EXPECT_TRUE(log.contains("Closing leaked statement"));
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_TRUE(cached->isClosed());
    EXPECT_TRUE(uncached->isClosed());
    EXPECT_FALSE(db->hasOpenResultSets());
    EXPECT_FALSE(log.contains("error closing"));
    EXPECT_FALSE(cached->next());
    EXPECT_EQ(cached->intForColumnIndex(0), 0);
}

TEST_F(FMDatabaseTest, StatementsOnAClosedConnectionFail) {
    FMDatabasePtr db = FMDatabase::databaseWithPath(dbPath("closed.db"));
    LogCapture log;
    EXPECT_FALSE(db->executeUpdate("create table t (a)"));
    EXPECT_FALSE(db->executeQuery("select 1"));
    EXPECT_FALSE(db->tableExists("t"));
    EXPECT_EQ(db->lastInsertRowId(), 0);
    EXPECT_TRUE(log.contains("is not open."));
    EXPECT_FALSE(db->isDatabaseValid());
}

TEST_F(FMDatabaseTest, NestedUseOfOneConnectionIsRefused) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    bool innerResult = true;
    db->makeFunctionNamed("reenter", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
        innerResult = db->executeUpdate("insert into t values (99)");
        sqlite3_result_int(context, 1);
    });
    LogCapture log;
    EXPECT_TRUE(db->executeUpdate("insert into t values (reenter())"));
    EXPECT_FALSE(innerResult);
    EXPECT_TRUE(log.contains("is currently in use."));
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 1);
    EXPECT_EQ(db->lastInsertRowId(), 1);
    EXPECT_TRUE(db->executeUpdate("insert into t values (2)"));
    EXPECT_EQ(db->changes(), 1);
}

TEST_F(FMDatabaseTest, TransactionsCommitAndRollBack) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (a)"));
    ASSERT_TRUE(db->beginTransaction());
    EXPECT_TRUE(db->inTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t values (1)"));
    // Another process sees nothing of an uncommitted exclusive transaction (it is locked out).
    int status = 0;
    sqliteTool(dbPath("test.db"), "select count(*) from t", &status);
    EXPECT_NE(status, 0);
    ASSERT_TRUE(db->commit());
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "select count(*) from t"), "1\n");

    ASSERT_TRUE(db->beginDeferredTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t values (2)"));
    ASSERT_TRUE(db->rollback());
    EXPECT_FALSE(db->inTransaction());
    EXPECT_FALSE(db->commit());  // no transaction open
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "select group_concat(a) from t"), "1\n");

    ErrorPtr error = db->inSavePoint([&](bool* rollback) {
        db->executeUpdate("insert into t values (3)");
        *rollback = true;
    });
    EXPECT_FALSE(error);
    error = db->inSavePoint([&](bool*) { db->executeUpdate("insert into t values (4)"); });
    EXPECT_FALSE(error);
    EXPECT_TRUE(db->startSavePointWithName("it's"));
    EXPECT_TRUE(db->releaseSavePointWithName("it's"));
    ErrorPtr releaseError;
    EXPECT_FALSE(db->releaseSavePointWithName("never", &releaseError));
    ASSERT_TRUE(releaseError);
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "select group_concat(a) from t"), "1,4\n");
}

TEST_F(FMDatabaseTest, AdditionsIgnoreTheCaseOfNames) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table Hour_CpuHistory (Sample integer, time real)"));
    EXPECT_TRUE(db->tableExists("hour_cpuhistory"));
    EXPECT_TRUE(db->tableExists("HOUR_CPUHISTORY"));
    EXPECT_FALSE(db->tableExists("day_cpuhistory"));
    EXPECT_TRUE(db->columnExists("SAMPLE", "hour_cpuhistory"));
    EXPECT_TRUE(db->columnExists("Time", "HOUR_CPUHISTORY"));
    EXPECT_FALSE(db->columnExists("compressed", "hour_cpuhistory"));
    EXPECT_FALSE(db->hasOpenResultSets());

    ASSERT_TRUE(db->executeUpdate("insert into Hour_CpuHistory values (5, 2.5)"));
    EXPECT_EQ(db->intForQuery("select sample from hour_cpuhistory"), 5);
    EXPECT_EQ(db->longForQuery("select sample from hour_cpuhistory where sample = ?", {Value(5)}), 5);
    EXPECT_TRUE(db->boolForQuery("select 1"));
    EXPECT_DOUBLE_EQ(db->doubleForQuery("select time from hour_cpuhistory"), 2.5);
    EXPECT_EQ(db->stringForQuery("select 'x'"), "x");
    EXPECT_FALSE(db->stringForQuery("select null"));
    EXPECT_EQ(db->intForQuery("select sample from hour_cpuhistory where sample = 6"), 0);
    EXPECT_EQ(db->dataForQuery("select x'0102'"), Bytes({1, 2}));
    EXPECT_FALSE(db->hasOpenResultSets());

    EXPECT_TRUE(db->validateSQL("select * from hour_cpuhistory"));
    ErrorPtr error;
    EXPECT_FALSE(db->validateSQL("select * from nothing", &error));
    ASSERT_TRUE(error);
    FMResultSetPtr schema = db->getSchema();
    ASSERT_TRUE(schema && schema->next());
    EXPECT_EQ(schema->stringForColumn("name"), "Hour_CpuHistory");
    schema->close();

    db->setUserVersion(7);
    EXPECT_EQ(db->userVersion(), 7u);
    db->setApplicationIDString("tlvo");
    EXPECT_EQ(db->applicationIDString(), "tlvo");
    db->close();
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "pragma user_version"), "7\n");
}

TEST_F(FMDatabaseTest, DatesBindAsSecondsOrAsTheFormattersText) {
    FMDatabasePtr db = openDb();
    ASSERT_TRUE(db->executeUpdate("create table t (k, d)"));
    const Date moment{1700000000.25};
    ASSERT_TRUE(db->executeUpdate("insert into t values ('plain', ?)", {Value(moment)}));
    EXPECT_FALSE(db->hasDateFormatter());
    db->setDateFormat(FMDatabase::storeableDateFormat("yyyy-MM-dd HH:mm:ss.SSS"));
    ASSERT_TRUE(db->hasDateFormatter());
    ASSERT_TRUE(db->executeUpdate("insert into t values ('text', ?)", {Value(moment)}));
    EXPECT_EQ(sqliteTool(dbPath("test.db"), "select k, typeof(d), d from t order by k"),
              "plain|real|1700000000.25\ntext|text|2023-11-14 22:13:20.250\n");
    EXPECT_EQ(db->dateForQuery("select d from t where k = 'text'"), moment);
    EXPECT_FALSE(db->dateForQuery("select 'not a date'"));
    db->setDateFormat(nullptr);
    EXPECT_EQ(db->dateForQuery("select d from t where k = 'plain'"), moment);
    EXPECT_FALSE(db->dateForQuery("select null"));
}

TEST_F(FMDatabaseTest, VersionsAndFlags) {
    EXPECT_EQ(FMDatabase::FMDBUserVersion(), "2.6.2");
    EXPECT_EQ(FMDatabase::FMDBVersion(), 0x262u);
    EXPECT_TRUE(FMDatabase::isSQLiteThreadSafe());
    EXPECT_EQ(FMDatabase::sqliteLibVersion(), sqlite3_libversion());
    FMDatabasePtr db = FMDatabase::databaseWithPath(std::nullopt);
    EXPECT_TRUE(db->logsErrors());
    EXPECT_FALSE(db->shouldCacheStatements());
    EXPECT_DOUBLE_EQ(db->maxBusyRetryTimeInterval(), 2.0);
    EXPECT_EQ(db->busyRetryTimeout(), -1);
    EXPECT_FALSE(db->setKey("k"));
    EXPECT_FALSE(db->rekeyWithData(Bytes{1}));
}

TEST_F(FMDatabaseTest, ExecuteStatementsRunsABatchAndHandsRowsToTheBlock) {
    FMDatabasePtr db = openDb();
    EXPECT_TRUE(db->executeStatements("create table t (a, b); insert into t values (1, null); insert into t values (2, 'x');"));
    std::vector<ValueDictionary> rows;
    EXPECT_TRUE(db->executeStatements("select a, b from t order by a", [&](const ValueDictionary& row) {
        rows.push_back(row);
        return 0;
    }));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("a"), Value("1"));
    EXPECT_TRUE(rows[0].at("b").isNull());
    EXPECT_EQ(rows[1].at("b"), Value("x"));
    int seen = 0;
    EXPECT_FALSE(db->executeStatements("select a from t", [&](const ValueDictionary&) { return ++seen; }));
    EXPECT_EQ(seen, 1);
    LogCapture log;
    EXPECT_FALSE(db->executeStatements("insert into nowhere values (1)"));
    EXPECT_TRUE(log.contains("Error inserting batch: no such table: nowhere"));
}

// ---------------------------------------------------------------- busy handling

class FMDatabaseBusyTest : public FMDatabaseTest {
protected:
    void SetUp() override {
        FMDatabaseTest::SetUp();
        platform::Clock::useVirtual(1'000'000);
        sleeps_.clear();
        FMDatabase::setBusySleepForTesting([this](int ms) {
            sleeps_.push_back(ms);
            platform::Clock::advance(ms / 1000.0);
        });
    }
    void TearDown() override {
        FMDatabase::setBusySleepForTesting(nullptr);
        platform::Clock::useReal();
        FMDatabaseTest::TearDown();
    }
    void expectWaitedAboutTwoSeconds(double start) {
        double waited = platform::Clock::monotonic() - start;
        EXPECT_GE(waited, 2.0);
        EXPECT_LT(waited, 2.0 + 0.1);
        ASSERT_FALSE(sleeps_.empty());
        for (int ms : sleeps_) {
            EXPECT_GE(ms, 50);
            EXPECT_LE(ms, 99);
        }
        EXPECT_GE(sleeps_.size(), 20u);
        EXPECT_LE(sleeps_.size(), 41u);
    }
    std::vector<int> sleeps_;
};

TEST_F(FMDatabaseBusyTest, StatementWaitsTwoSecondsWhileAnotherProcessHoldsTheFileThenFailsBusy) {
    sqliteTool(dbPath("busy.db"), "create table t (a); insert into t values (1);");
    FMDatabasePtr db = openDb("busy.db");
    ExclusiveLockHolder holder(dbPath("busy.db"));
    ASSERT_TRUE(holder.locked()) << "the sqlite3 tool could not be started as the second process";

    double start = platform::Clock::monotonic();
    ErrorPtr error;
    EXPECT_FALSE(db->executeUpdate("insert into t values (2)", {}, &error));
    EXPECT_EQ(db->lastErrorCode(), SQLITE_BUSY);
    expectWaitedAboutTwoSeconds(start);

    // A query prepares, then fails busy on its first step, and closes itself.
    sleeps_.clear();
    start = platform::Clock::monotonic();
    FMResultSetPtr rs = db->executeQuery("select a from t");
    LogCapture log;
    if (rs) {
        ErrorPtr stepError;
        EXPECT_FALSE(rs->nextWithError(&stepError));
        ASSERT_TRUE(stepError);
        EXPECT_EQ(stepError->code, SQLITE_BUSY);
        EXPECT_TRUE(rs->isClosed());
        EXPECT_TRUE(log.contains("Database busy"));
    }
    EXPECT_EQ(db->lastErrorCode(), SQLITE_BUSY);
    expectWaitedAboutTwoSeconds(start);

    holder.release();
    EXPECT_TRUE(db->executeUpdate("insert into t values (3)"));
    db->close();
    EXPECT_EQ(sqliteTool(dbPath("busy.db"), "select group_concat(a) from t"), "1,3\n");
}

TEST_F(FMDatabaseBusyTest, SecondConnectionInThisProcessHoldingTheLock) {
    FMDatabasePtr holder = openDb("busy2.db");
    ASSERT_TRUE(holder->executeUpdate("create table t (a)"));
    ASSERT_TRUE(holder->beginTransaction());
    FMDatabasePtr db = openDb("busy2.db");
    double start = platform::Clock::monotonic();
    EXPECT_FALSE(db->beginTransaction());
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(db->lastErrorCode(), SQLITE_BUSY);
    expectWaitedAboutTwoSeconds(start);
    ASSERT_TRUE(holder->commit());
    EXPECT_TRUE(db->beginTransaction());
    EXPECT_TRUE(db->commit());
}

TEST_F(FMDatabaseBusyTest, NoWaitingWithoutABusyInterval) {
    FMDatabasePtr holder = openDb("busy3.db");
    ASSERT_TRUE(holder->executeUpdate("create table t (a)"));
    ASSERT_TRUE(holder->beginTransaction());
    FMDatabasePtr db = openDb("busy3.db");
    db->setMaxBusyRetryTimeInterval(0);
    EXPECT_FALSE(db->executeUpdate("insert into t values (1)"));
    EXPECT_EQ(db->lastErrorCode(), SQLITE_BUSY);
    EXPECT_TRUE(sleeps_.empty());
    db->setMaxBusyRetryTimeInterval(0.5);
    double start = platform::Clock::monotonic();
    EXPECT_FALSE(db->executeUpdate("insert into t values (1)"));
    EXPECT_GE(platform::Clock::monotonic() - start, 0.5);
    EXPECT_LT(platform::Clock::monotonic() - start, 0.6);
    holder->commit();
}

}  // namespace
}  // namespace telvo
