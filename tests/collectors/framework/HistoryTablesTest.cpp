// History tables: names, creation, rows, pruning, loading and the lazy item loads, checked
// on real SQLite files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/NodeText.h"
#include "collectors/framework/TestCollectors.h"

using namespace telvo;
using fwtest::HistoryFixture;
using fwtest::kLocalDB;
using fwtest::kLongTermDB;

namespace {

class HistoryTablesTest : public HistoryFixture {};

TEST_F(HistoryTablesTest, TableNames) {
    auto values = std::make_shared<fwtest::TestValuesCollector>(1);
    auto devices = std::make_shared<fwtest::TestDevicesCollector>();
    auto bare = std::make_shared<StatCollector>(1);
    struct Case {
        StatCollector* c;
        int64_t level;
        const char* table;
        const char* itemTable;
    } cases[] = {
        {values.get(), 1, "hour_testvalueshistory", "hour_testvalueshistory"},
        {values.get(), 5, "threemonth_testvalueshistory", "threemonth_testvalueshistory"},
        {values.get(), 8, "testvalueshistory", "testvalueshistory"},
        {values.get(), 0, "", ""},
        {values.get(), 9, "", ""},
        {values.get(), -1, "", ""},
        {devices.get(), 1, "hour_testdevicesidhistory", "hour_testdeviceshistory"},
        {devices.get(), 7, "year_testdevicesidhistory", "year_testdeviceshistory"},
        {devices.get(), 8, "testdevicesidhistory", "testdeviceshistory"},
        {bare.get(), 2, "day_history", "day_history"},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(k.c->tableAtIndex(k.level), k.table) << k.level;
        EXPECT_EQ(k.c->itemTableAtIndex(k.level), k.itemTable) << k.level;
    }
}

TEST_F(HistoryTablesTest, PrepareCreatesMissingTablesOnce) {
    auto c = std::make_shared<fwtest::TestDevicesCollector>();
    c->setDbpath(kLocalDB);
    c->setDbpathLong(kLongTermDB);
    EXPECT_TRUE(c->prepareDatabase(false)) << "tables were created";
    EXPECT_FALSE(c->prepareDatabase(false)) << "nothing to create the second time";
    EXPECT_TRUE(c->prepareDatabase(true)) << "the base passes its flag through";
    std::string local = sql(kLocalDB, "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master "
                                      "WHERE type='table' AND name LIKE '%testdevices%' ORDER BY name)");
    EXPECT_EQ(local,
              "day_testdeviceshistory day_testdevicesidhistory hour_testdeviceshistory hour_testdevicesidhistory "
              "month_testdeviceshistory month_testdevicesidhistory sixmonth_testdeviceshistory "
              "sixmonth_testdevicesidhistory testdeviceshistory testdevicesidhistory threemonth_testdeviceshistory "
              "threemonth_testdevicesidhistory week_testdeviceshistory week_testdevicesidhistory "
              "year_testdeviceshistory year_testdevicesidhistory");
    EXPECT_EQ(sql(kLongTermDB, "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master WHERE "
                               "type='table' AND name LIKE 'testdevices%' ORDER BY name)"),
              "testdeviceshistory testdevicesidhistory");
}

TEST_F(HistoryTablesTest, ASampleLackingAnInsertKeyStillWritesItsRowWithNull) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(2);
    c->setDbpath(kLocalDB);
    c->prepareDatabase(false);
    std::vector<std::string> lines;
    fwtest::LogCapture capture(lines);
    c->insertSample(Value(ValueDictionary{{"sample", Value(4)}, {"time", Value(40.0)}, {"empty", Value(0)},
                                          {"v0", Value(1.25)}}),
                    1);
    c->runDatabaseQueue();
    flush();
    EXPECT_EQ(sql(kLocalDB, "SELECT sample, time, empty, v0, quote(v1) FROM hour_testvalueshistory"), "4|40.0|0|1.25|NULL");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c->description() + " - missing key - 'v1'");
}

TEST_F(HistoryTablesTest, EmptyItemsWriteNoItemRows) {
    auto c = std::make_shared<fwtest::TestDevicesCollector>();
    c->setDbpath(kLocalDB);
    c->prepareDatabase(false);
    ValueArray items{Value(ValueDictionary{{"uuid", Value("en0")}, {"sample", Value(3)}, {"time", Value(1.0)},
                                           {"empty", Value(true)}, {"rx", Value(0.0)}, {"tx", Value(0.0)}}),
                     Value(ValueDictionary{{"uuid", Value("en1")}, {"sample", Value(3)}, {"time", Value(1.0)},
                                           {"empty", Value(false)}, {"rx", Value(2.0)}, {"tx", Value(3.0)}})};
    c->insertSample(Value(ValueDictionary{{"sample", Value(3)}, {"time", Value(7.0)}, {"empty", Value(0)},
                                          {"items", Value(items)}}),
                    1);
    c->runDatabaseQueue();
    flush();
    EXPECT_EQ(sql(kLocalDB, "SELECT sample, time FROM hour_testdevicesidhistory"), "3|7.0");
    EXPECT_EQ(sql(kLocalDB, "SELECT uuid, rx, tx FROM hour_testdeviceshistory"), "en1|2.0|3.0");
}

TEST_F(HistoryTablesTest, PruningKeepsTheNewest602Numbers) {
    struct Case {
        double sampleID;
        bool queued;
    } cases[] = {{601, false}, {602, true}, {1000, true}};
    for (const auto& k : cases) {
        auto c = std::make_shared<fwtest::TestDevicesCollector>();
        c->setDbpath(kLocalDB);
        c->setID(k.sampleID, 3);
        c->removeOldSamplesAtIndex(3);
        auto pending = pendingWrites(kLocalDB);
        if (!k.queued) {
            EXPECT_TRUE(pending.empty()) << k.sampleID;
        } else {
            ASSERT_EQ(pending.size(), 2u) << k.sampleID;
            EXPECT_EQ(pending[0].format, "DELETE FROM %@ WHERE sample < ?");
            EXPECT_EQ(pending[0].table, "week_testdevicesidhistory");
            EXPECT_EQ(pending[1].table, "week_testdeviceshistory");
            EXPECT_EQ(pending[0].args.at(0).doubleValue(), k.sampleID - 602);
        }
        HistoryDatabaseController::resetForTesting();
    }
    auto none = std::make_shared<fwtest::TestValuesCollector>(1);
    none->setID(5000, 1);
    none->insertSample(none->emptySampleWithIdentifier(1, 1), 1);
    none->runDatabaseQueue();  // no short-term path: nothing queued, nothing opened
    EXPECT_TRUE(HistoryDatabaseController::sharedHistoryDatabaseController().openPaths().empty());
}

TEST_F(HistoryTablesTest, DisabledDatabaseNeitherPrunesNorCommits) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(1);
    c->setDbpath(kLocalDB);
    c->prepareDatabase(false);
    c->setDatabaseEnabled(false);
    c->setID(700, 1);
    c->insertSample(c->emptySampleWithIdentifier(700, 1), 1);
    c->runDatabaseQueue();
    EXPECT_EQ(pendingWrites(kLocalDB).size(), 1u) << "the row waits, unpruned";
}

TEST_F(HistoryTablesTest, LoadingRefillsRingsAndCounters) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(2);
    c->setDbpath(kLocalDB);
    c->setDbpathLong(kLongTermDB);
    c->prepareDatabase(false);
    const double now = platform::Clock::now();
    std::string rows;
    for (int i = 1; i <= 700; ++i)
        rows += "INSERT INTO hour_testvalueshistory VALUES (" + std::to_string(i) + ", " +
                std::to_string(kStart - (700 - i) * 6) + ", 0, " + std::to_string(i) + ", 0.5);";
    rows += "INSERT INTO week_testvalueshistory VALUES (3, " + std::to_string(now + 2 * 86400) + ", 0, 1, 1);";
    sql(kLocalDB, rows);
    sql(kLongTermDB, "INSERT INTO testvalueshistory VALUES (40, " + std::to_string(kStart - 300) +
                         ", 0, 9, 9); INSERT INTO testvalueshistory VALUES (41, " + std::to_string(kStart) +
                         ", 0, 10, 10);");
    HistoryDatabaseController::resetForTesting();

    c->loadPreviousSamples();
    sampleindexconfig hour = c->sampleIndex(1);
    EXPECT_EQ(hour.sampleID, 700);
    EXPECT_EQ(hour.time, kStart);
    EXPECT_EQ(hour.nextTime, kStart + 6);
    EXPECT_EQ(c->sampleAtIndex(0, 1).values[0], 700);
    EXPECT_EQ(c->sampleAtIndex(601, 1).sampleID, 700 - 601) << "the newest 602 rows fill the ring";
    sampleindexconfig week = c->sampleIndex(3);
    EXPECT_EQ(week.time, 0) << "a time ahead of the clock is not trusted";
    EXPECT_EQ(week.nextTime, 0);
    EXPECT_EQ(c->sampleAtIndex(0, 3).sampleID, 0) << "and its stored samples leave the ring";
    sampleindexconfig longTerm = c->sampleIndex(8);
    EXPECT_EQ(longTerm.sampleID, 41);
    EXPECT_EQ(longTerm.time, kStart);
    EXPECT_EQ(longTerm.nextTime, kStart + 300);
    EXPECT_EQ(c->sampleAtIndex(0, 8).sampleID, 41) << "the long-term ring is refilled from the long-term rows";
    EXPECT_EQ(c->sampleAtIndex(1, 8).values[0], 9);

    // The week level starts afresh but numbers its rows above the stored one, so new rows
    // neither collide with it nor hide behind it when the file is read again.
    c->startLogging();
    dispatch::MainLoop::runFor(1100);
    EXPECT_EQ(c->idForInterval(3), 4);
    EXPECT_EQ(c->sampleAtIndex(0, 3).sampleID, 4);
    EXPECT_EQ(c->sampleAtIndex(0, 3).empty, 0);
    c->runDatabaseQueue();
    flush();
    EXPECT_EQ(sql(kLocalDB, "SELECT group_concat(sample) FROM (SELECT sample FROM week_testvalueshistory ORDER BY sample)"),
              "3,4");
    c->cleanup();
}

TEST_F(HistoryTablesTest, EmptyLongTermFileLeavesLevelEightAtItsStart) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(1);
    c->setDbpath(kLocalDB);
    c->setDbpathLong(kLongTermDB);
    c->prepareDatabase(false);
    c->loadPreviousSamples();
    EXPECT_EQ(c->idForInterval(8), 1);
    EXPECT_EQ(c->sampleIndex(8).nextTime, std::ceil(platform::Clock::now() / 300) * 300);
    auto noPath = std::make_shared<fwtest::TestValuesCollector>(1);
    noPath->loadPreviousSamples();
    EXPECT_EQ(noPath->sampleIndex(8).nextTime, std::ceil(platform::Clock::now() / 300) * 300);
}

TEST_F(HistoryTablesTest, FirstDueTimesWriteAnEmptyRowPerLevel) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(2);
    startCollector(*c);
    dispatch::MainLoop::runUntilIdle();
    flush();
    const double t = platform::Clock::now();
    EXPECT_EQ(sql(kLocalDB, "SELECT sample, time, empty, v0 FROM hour_testvalueshistory"),
              "0|" + std::to_string(int64_t(std::ceil(t))) + ".0|1|0.0");
    // Level 8 took its first due time from the (empty) long-term file at load, so it writes no
    // empty row; a collector without loaded counters does.
    EXPECT_EQ(sqlNumber(kLongTermDB, "SELECT count(*) FROM testvalueshistory"), 0);
    EXPECT_EQ(c->sampleIndex(8).nextTime, std::ceil(t / 300) * 300);
    auto fresh = std::make_shared<fwtest::TestDevicesCollector>();
    fresh->setDbpath(kLocalDB);
    fresh->setDbpathLong(kLongTermDB);
    fresh->prepareDatabase(false);
    fresh->checkNextTimeAtIndex(8);
    flush();
    double next8 = std::ceil(t / 300) * 300;
    if (next8 - t < 60) next8 += 300;
    EXPECT_EQ(sqlNumber(kLongTermDB, "SELECT time FROM testdevicesidhistory WHERE sample = 0"), long(next8 - 300));
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM testdevicesidhistory"), 0) << "level-8 rows go to the long-term file";
    c->cleanup();
}

TEST_F(HistoryTablesTest, ARestartKeepsEveryStoredSampleAfterTheStartRow) {
    // A first run writes the level's start row (number 0) and then rows 1 to 3; a restart
    // reads them back. The start row must not take a number of its own in the ring, or the
    // real sample 1 is shut out (one stored sample lost per level and restart).
    auto first = std::make_shared<fwtest::TestValuesCollector>(1);
    startCollector(*first);
    dispatch::MainLoop::runFor(21);  // three hour-level rows, one every 6 s
    first->runDatabaseQueue();
    flush();
    first->cleanup();
    ASSERT_EQ(sql(kLocalDB, "SELECT group_concat(sample) FROM (SELECT sample FROM hour_testvalueshistory ORDER BY sample)"),
              "0,1,2,3");
    const std::string stored = sql(kLocalDB, "SELECT v0 FROM hour_testvalueshistory WHERE sample = 1");
    HistoryDatabaseController::resetForTesting();

    auto again = std::make_shared<fwtest::TestValuesCollector>(1);
    again->setDbpath(kLocalDB);
    again->setDbpathLong(kLongTermDB);
    again->prepareDatabase(false);
    again->loadPreviousSamples();
    EXPECT_EQ(again->idForInterval(1), 3);
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(again->sampleAtIndex(slot, 1).sampleID, 3 - slot) << "slot " << slot;
        EXPECT_EQ(again->sampleAtIndex(slot, 1).empty, 0) << "slot " << slot;
    }
    EXPECT_EQ(std::to_string(again->sampleAtIndex(2, 1).values[0]).substr(0, stored.size()), stored);
    EXPECT_EQ(again->sampleAtIndex(3, 1).sampleID, 0) << "the start row stays out of the ring";
    again->cleanup();
}

// ---- Lazy item loads

class LazyItemLoadTest : public HistoryFixture {
protected:
    // Rows 1..N of every level's item table for en0 and en1, rx = sample number.
    void storeRows(int n) {
        std::string rows;
        auto add = [&](const std::string& table, int i, const char* key) {
            rows += "INSERT INTO " + table + " (sample, time, uuid, empty, rx, tx) VALUES (" + std::to_string(i) +
                    ", " + std::to_string(kStart - (n - i) * 6) + ", '" + key + "', 0, " + std::to_string(i) + ", 1);";
        };
        for (int i = 1; i <= n; ++i)
            for (const char* key : {"en0", "en1"}) add("hour_testdeviceshistory", i, key);
        for (int i = 1; i <= 5; ++i) add("testdeviceshistory", i, "en0");
        sql(kLocalDB, rows);
        std::string longRows;
        for (int i = 1; i <= 5; ++i)
            longRows += "INSERT INTO testdeviceshistory (sample, time, uuid, empty, rx, tx) VALUES (" +
                        std::to_string(i) + ", " + std::to_string(kStart - (5 - i) * 300) + ", 'en0', 0, " +
                        std::to_string(100 + i) + ", 1);";
        sql(kLongTermDB, longRows);
    }
    std::shared_ptr<fwtest::TestDevicesCollector> prepared() {
        auto c = std::make_shared<fwtest::TestDevicesCollector>();
        c->setDbpath(kLocalDB);
        c->setDbpathLong(kLongTermDB);
        c->prepareDatabase(false);
        return c;
    }
};

TEST_F(LazyItemLoadTest, StoredRowsGoBehindTheRingsSamples) {
    auto c = prepared();
    storeRows(40);
    c->setID(41, 1);
    c->setID(6, 8);
    auto item = c->newItemWithKey("en0");
    // The ring already holds samples 38 to 40 of level 1.
    for (int i = 38; i <= 40; ++i)
        item->addSample(Value(ValueDictionary{{"sample", Value(i)}, {"time", Value(kStart)}, {"rx", Value(-1.0)}}), 1);
    bool replied = false;
    c->loadPreviousSamplesForItem(item, [&] { replied = true; });
    EXPECT_TRUE(item->loadingHistory());
    c->loadPreviousSamplesForItem(item, [] { FAIL() << "a second load must not start"; });
    dispatch::MainLoop::runUntil([&] { return replied; }, 10);
    ASSERT_TRUE(replied);
    EXPECT_TRUE(item->loadedHistory());
    EXPECT_FALSE(item->loadingHistory());
    EXPECT_EQ(item->sampleAtIndex(0, 1).sampleID, 40);
    EXPECT_EQ(item->sampleAtIndex(2, 1).sampleID, 38);
    EXPECT_EQ(item->sampleAtIndex(3, 1).sampleID, 37) << "the newest stored row below the ring's oldest";
    EXPECT_EQ(item->sampleAtIndex(3, 1).values[0], 37);
    EXPECT_EQ(item->sampleAtIndex(39, 1).sampleID, 1);
    EXPECT_EQ(item->sampleAtIndex(40, 1).empty, 1);
    EXPECT_EQ(item->idForInterval(1), 40) << "slot 0 untouched";
    // Level 8 of an item is read from the long-term file (its empty ring: rows up to the
    // level's number).
    EXPECT_EQ(item->sampleAtIndex(0, 8).sampleID, 5);
    EXPECT_EQ(item->sampleAtIndex(0, 8).values[0], 105);
    EXPECT_EQ(item->sampleAtIndex(4, 8).sampleID, 1);
    EXPECT_EQ(item->sampleAtIndex(5, 8).empty, 1);
}

// Stopped and started again before the next interval: an item's empty ring is refilled with
// every stored row of the level, its newest two included, and the level's very first row when
// it is the only one.
TEST_F(LazyItemLoadTest, AQuickRestartReadsEveryStoredRowOfAnItemBack) {
    struct Case {
        double seconds;  // run before the stop; an hour-level row every 6 s
        int rows;
    } cases[] = {{21, 3}, {9, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.rows) + " rows");
        dispatch::MainLoop::resetForTesting();
        HistoryDatabaseController::resetForTesting();
        std::filesystem::remove(fs::resolve(kLocalDB));
        std::filesystem::remove(fs::resolve(kLongTermDB));
        platform::Clock::useVirtual(kStart + 0.5);
        auto first = std::make_shared<fwtest::TestDevicesCollector>();
        startCollector(*first);
        dispatch::MainLoop::runFor(k.seconds);
        first->runDatabaseQueue();
        flush();
        first->cleanup();
        first.reset();
        std::string expected;
        for (int sample = 1; sample <= k.rows; ++sample) expected += (sample > 1 ? "," : "") + std::to_string(sample);
        ASSERT_EQ(sql(kLocalDB, "SELECT group_concat(sample) FROM (SELECT sample FROM hour_testdeviceshistory WHERE "
                                "uuid = 'en0' ORDER BY sample)"),
                  expected);
        // Newest first, as the ring holds them.
        std::vector<double> stored;
        for (int sample = k.rows; sample >= 1; --sample)
            stored.push_back(std::atof(sql(kLocalDB, "SELECT rx FROM hour_testdeviceshistory WHERE uuid = 'en0' AND "
                                                     "sample = " + std::to_string(sample))
                                           .c_str()));
        HistoryDatabaseController::resetForTesting();

        auto again = std::make_shared<fwtest::TestDevicesCollector>();
        startCollector(*again);
        ASSERT_EQ(again->idForInterval(1), k.rows) << "no interval passed: no gap row";
        auto item = again->newItemWithKey("en0");
        bool replied = false;
        again->loadPreviousSamplesForItem(item, [&] { replied = true; });
        ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return replied; }, 30));
        for (int slot = 0; slot < k.rows; ++slot) {
            EXPECT_EQ(item->sampleAtIndex(slot, 1).sampleID, k.rows - slot) << "slot " << slot;
            EXPECT_EQ(item->sampleAtIndex(slot, 1).empty, 0) << "slot " << slot;
            EXPECT_NEAR(item->sampleAtIndex(slot, 1).values[0], stored[size_t(slot)], 1e-9) << "slot " << slot;
        }
        EXPECT_EQ(item->sampleAtIndex(k.rows, 1).empty, 1);
        again->cleanup();
    }
}

TEST_F(LazyItemLoadTest, FullRingsReadRowsAndAddNone) {
    auto c = prepared();
    storeRows(10);
    auto item = c->newItemWithKey("en1");
    for (int64_t level = 1; level <= 8; ++level) {
        statsample* ring = item->storageForType(level);
        for (int s = 0; s < kSamplesPerLevel; ++s) {
            ring[s].sampleID = 1000 - s;
            ring[s].empty = 0;
        }
    }
    bool replied = false;
    c->loadPreviousSamplesForItem(item, [&] { replied = true; });
    EXPECT_FALSE(replied) << "rows are read first";
    dispatch::MainLoop::runUntil([&] { return replied; }, 10);
    EXPECT_TRUE(item->loadedHistory());
    EXPECT_EQ(item->sampleAtIndex(601, 1).sampleID, 1000 - 601);
}

TEST_F(LazyItemLoadTest, RightAfterAFirstStartTheLoadEndsAtOnce) {
    auto c = std::make_shared<fwtest::TestDevicesCollector>();
    startCollector(*c);
    auto item = c->newItemWithKey("en0");
    bool replied = false;
    c->loadPreviousSamplesForItem(item, [&] { replied = true; });
    EXPECT_TRUE(replied) << "no level holds a row yet";
    EXPECT_TRUE(item->loadedHistory());
    c->loadPreviousSamplesForItem(nullptr, [] { FAIL(); });
    c->cleanup();
}

TEST_F(LazyItemLoadTest, ARequestStartsTheLoadAndAnswersWithLoadingThenWithTheItem) {
    auto c = prepared();
    storeRows(12);
    c->setID(13, 1);
    c->setID(6, 8);
    for (int i = 1; i <= 3; ++i) {
        c->sampleIndexRecord(0)->sampleID = i;
        c->sampleIndexRecord(0)->time = kStart - 3 + i;
        c->updateStats();
    }
    std::vector<std::string> lines;
    fwtest::LogCapture capture(lines);
    Value request(ValueDictionary{{"samples", Value("2|9")}, {"keys", Value("en0")}, {"protocol", NSInt(3)}});
    const int64_t firstSession = c->session();
    auto first = c->xmlNodesFromAttributes(request);
    auto second = c->xmlNodesFromAttributes(request);  // while the load runs: no second load
    std::string golden;
    EXPECT_TRUE(fwtest::matchesGolden("devices_loading.xml", fwtest::nodesText(first), golden))
        << fwtest::nodesText(first);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(first[0]->attribute("loading"), nullptr) << "level 0 was answered before the load began";
    ASSERT_NE(second[0]->attribute("loading"), nullptr) << "while loading, every stat element says so";
    ASSERT_NE(second[1]->attribute("loading"), nullptr);
    EXPECT_TRUE(second[1]->children.empty());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "loading history for item " + c->itemWithKey("en0")->description()), 1);
    EXPECT_FALSE(c->itemWithKey("en1")->loadingHistory()) << "\"keys\" limits the loads";

    platform::Clock::advance(3);
    dispatch::MainLoop::runUntil([&] { return !c->loadingHistory(); }, 10);
    ASSERT_FALSE(c->loadingHistory());
    EXPECT_EQ(c->session(), int64_t(platform::Clock::now())) << "a new session tells the client";
    EXPECT_GT(c->session(), firstSession);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "finished loading history"), lines.end());
    auto after = c->xmlNodesFromAttributes(request);
    EXPECT_TRUE(fwtest::matchesGolden("devices_loaded.xml", fwtest::nodesText(after), golden))
        << fwtest::nodesText(after);
}

}  // namespace

namespace {

// A collector that keeps no tables answers no table names; nothing is created or queued.
struct NoTables : fwtest::TestValuesCollector {
    NoTables() : TestValuesCollector(1) {}
    std::string tableAtIndex(int64_t) override { return std::string(); }
    std::string itemTableAtIndex(int64_t) override { return std::string(); }
};

TEST_F(HistoryTablesTest, ACollectorWithoutTableNamesKeepsNoHistory) {
    auto c = std::make_shared<NoTables>();
    c->setDbpath(kLocalDB);
    c->setDbpathLong(kLongTermDB);
    EXPECT_FALSE(c->prepareDatabase(false));
    c->loadPreviousSamples();
    c->setID(5000, 1);
    c->insertSample(c->emptySampleWithIdentifier(5000, 1), 1);
    c->removeOldSamplesAtIndex(1);
    EXPECT_TRUE(pendingWrites(kLocalDB).empty());
    EXPECT_EQ(sql(kLocalDB, "SELECT count(*) FROM sqlite_master"), "0");
}

}  // namespace
