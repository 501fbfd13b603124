// Both test collectors through two simulated days on the virtual clock: rows in local.db
// and longterm.db pruned to their reach, a restart that reloads the rings, and a pause
// filled with empty rows.
#include <gtest/gtest.h>

#include <cmath>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/TestCollectors.h"

using namespace telvo;
using fwtest::kLocalDB;
using fwtest::kLongTermDB;

namespace {

class TwoDaysTest : public fwtest::HistoryFixture {};

TEST_F(TwoDaysTest, TwoDaysRestartAndPause) {
    const double begin = platform::Clock::now();
    auto values = std::make_shared<fwtest::TestValuesCollector>(3);
    auto devices = std::make_shared<fwtest::TestDevicesCollector>();
    startCollector(*values);
    startCollector(*devices);
    dispatch::MainLoop::runFor(2 * 86400.0);
    flush();
    const double end = platform::Clock::now();

    EXPECT_EQ(values->samplesTaken, 2 * 86400);
    // Short-term levels keep about their ring's reach; pruning runs with every day-level advance.
    for (const char* table : {"hour_testvalueshistory", "day_testvalueshistory", "hour_testdevicesidhistory",
                              "day_testdevicesidhistory"}) {
        long count = sqlNumber(kLocalDB, std::string("SELECT count(*) FROM ") + table);
        long lowest = sqlNumber(kLocalDB, std::string("SELECT min(sample) FROM ") + table);
        long highest = sqlNumber(kLocalDB, std::string("SELECT max(sample) FROM ") + table);
        EXPECT_GE(count, 600) << table;
        EXPECT_LE(count, 603 + 24) << table;
        EXPECT_GE(lowest, highest - 602 - 24) << table;
    }
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT max(sample) FROM hour_testvalueshistory"), long(values->idForInterval(1)));
    // Longer levels: one row per interval plus the empty row of the first due time.
    const long weeks = long(std::floor((end - begin) / 1008));
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM week_testvalueshistory"), weeks + 1);
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM week_testvalueshistory WHERE empty = 1"), 1)
        << "only the first due time's row";
    EXPECT_EQ(sql(kLocalDB, "SELECT min(sample) || '-' || max(sample) FROM week_testvalueshistory"),
              "0-" + std::to_string(weeks));
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM month_testvalueshistory"), 2 * 86400 / 4320);
    // The long-term file: every 300 s, never pruned, none in the short-term file.
    long longRows = sqlNumber(kLongTermDB, "SELECT count(*) FROM testvalueshistory");
    EXPECT_GE(longRows, 2 * 86400 / 300 - 1);
    EXPECT_LE(longRows, 2 * 86400 / 300 + 1);
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM testvalueshistory"), 0);
    // Averaged values: an hour-level row is the mean of its six seconds.
    std::string row = sql(kLocalDB, "SELECT time, v2 FROM hour_testvalueshistory WHERE empty = 0 ORDER BY sample DESC "
                                    "LIMIT 1");
    double rowTime = std::atof(row.c_str());
    double mean = 0;
    for (int k = 0; k < 6; ++k) mean += fwtest::valuesSampleValue(rowTime - 5 + k, 2) / 6;
    EXPECT_NEAR(std::atof(row.substr(row.find('|') + 1).c_str()), mean, 1e-9) << row;
    // Items: a row per item and interval, keyed by uuid, with the item's window start as time.
    for (const char* key : {"en0", "en1"}) {
        long n = sqlNumber(kLocalDB, std::string("SELECT count(*) FROM week_testdeviceshistory WHERE uuid = '") + key + "'");
        EXPECT_EQ(n, weeks) << key;
        EXPECT_GE(sqlNumber(kLongTermDB, std::string("SELECT count(*) FROM testdeviceshistory WHERE uuid = '") + key + "'"),
                  2 * 86400 / 300 - 2);
    }
    EXPECT_LE(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdeviceshistory WHERE uuid = 'en0'"), 603 + 24);

    // ---- Stop (the daemon commits on SIGTERM), then a pause of two hours.
    const double stoppedAt = platform::Clock::now();
    const sampleindexconfig hourBefore = values->sampleIndex(1);
    const statsample dayNewest = values->sampleAtIndex(0, 2);
    const double dayValue = dayNewest.values[1];
    values->cleanup();
    devices->cleanup();
    dispatch::MainLoop::runUntilIdle();
    flush();
    values.reset();
    devices.reset();
    HistoryDatabaseController::resetForTesting();
    platform::Clock::setVirtualNow(stoppedAt + 7200);

    // ---- Restart: the rings come back from the files and the pause is filled.
    auto values2 = std::make_shared<fwtest::TestValuesCollector>(3);
    auto devices2 = std::make_shared<fwtest::TestDevicesCollector>();
    values2->setDbpath(kLocalDB);
    values2->setDbpathLong(kLongTermDB);
    values2->prepareDatabase(false);
    values2->loadPreviousSamples();
    EXPECT_EQ(values2->idForInterval(1), hourBefore.sampleID);
    EXPECT_EQ(values2->sampleAtIndex(0, 2).sampleID, dayNewest.sampleID);
    EXPECT_DOUBLE_EQ(values2->sampleAtIndex(0, 2).values[1], dayValue);
    EXPECT_GT(values2->sampleAtIndex(0, 8).sampleID, 0) << "level 8 refilled from the long-term file";
    values2->fillGaps();
    values2->startLogging();
    startCollector(*devices2);
    EXPECT_EQ(values2->idForInterval(1), hourBefore.sampleID + 1200) << "one number per missed interval";
    dispatch::MainLoop::runFor(600.0);
    flush();

    const std::string pause = " time > " + std::to_string(long(stoppedAt) + 6) + " AND time < " +
                              std::to_string(long(stoppedAt + 7200) - 6);
    EXPECT_GE(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testvalueshistory WHERE empty = 1 AND" + pause), 500);
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testvalueshistory WHERE empty = 0 AND" + pause), 0);
    long longGap = sqlNumber(kLongTermDB, "SELECT count(*) FROM testvalueshistory WHERE empty = 1 AND" + pause);
    EXPECT_GE(longGap, 23);
    EXPECT_LE(longGap, 24);
    EXPECT_GE(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdevicesidhistory WHERE" + pause), 500);
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdeviceshistory WHERE" + pause), 0)
        << "empty item samples write no item rows";
    // Sampling resumed after the pause.
    EXPECT_GT(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testvalueshistory WHERE empty = 0 AND time > " +
                                      std::to_string(long(stoppedAt + 7200))),
              90);
    EXPECT_EQ(sql(kLocalDB, "PRAGMA integrity_check"), "ok");
    values2->cleanup();
    devices2->cleanup();
}

}  // namespace
