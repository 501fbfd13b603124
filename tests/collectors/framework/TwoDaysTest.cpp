// Each test collector through two simulated days on the virtual clock: rows in local.db and
// longterm.db pruned to their reach, a restart that reloads the rings, and a pause filled
// with empty rows. (One collector per test keeps each test's run time moderate.)
#include <gtest/gtest.h>

#include <cmath>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/TestCollectors.h"

using namespace telvo;
using fwtest::kLocalDB;
using fwtest::kLongTermDB;

namespace {

class TwoDaysTest : public fwtest::HistoryFixture {
protected:
    // Commits as the daemon does when it stops, closes the files and lets two hours pass.
    double stopAndPause(StatCollector& c) {
        const double stoppedAt = platform::Clock::now();
        c.cleanup();
        dispatch::MainLoop::runUntilIdle();
        flush();
        HistoryDatabaseController::resetForTesting();
        platform::Clock::setVirtualNow(stoppedAt + 7200);
        return stoppedAt;
    }
    // The short-term tables of levels 1 and 2 keep about their ring's reach (pruning runs with
    // every day-level advance, 24 hour-level rows apart).
    void expectPruned(const std::string& table) {
        long count = sqlNumber(kLocalDB, "SELECT count(*) FROM " + table);
        long lowest = sqlNumber(kLocalDB, "SELECT min(sample) FROM " + table);
        long highest = sqlNumber(kLocalDB, "SELECT max(sample) FROM " + table);
        EXPECT_GE(count, 600) << table;
        EXPECT_LE(count, 603 + 24) << table;
        EXPECT_GE(lowest, highest - 602 - 24) << table;
    }
    std::string during(double stoppedAt) {
        return " time > " + std::to_string(long(stoppedAt) + 6) + " AND time < " +
               std::to_string(long(stoppedAt + 7200) - 6);
    }
};

TEST_F(TwoDaysTest, StorageTypeOneCollector) {
    const double begin = platform::Clock::now();
    auto values = std::make_shared<fwtest::TestValuesCollector>(3);
    startCollector(*values);
    dispatch::MainLoop::runFor(2 * 86400.0);
    flush();
    const double end = platform::Clock::now();

    EXPECT_EQ(values->samplesTaken, 2 * 86400);
    expectPruned("hour_testvalueshistory");
    expectPruned("day_testvalueshistory");
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
    // An hour-level row is the mean of its six seconds.
    std::string row = sql(kLocalDB, "SELECT time, v2 FROM hour_testvalueshistory WHERE empty = 0 ORDER BY sample DESC "
                                    "LIMIT 1");
    double rowTime = std::atof(row.c_str());
    double mean = 0;
    for (int k = 0; k < 6; ++k) mean += fwtest::valuesSampleValue(rowTime - 5 + k, 2) / 6;
    EXPECT_NEAR(std::atof(row.substr(row.find('|') + 1).c_str()), mean, 1e-9) << row;

    const sampleindexconfig hourBefore = values->sampleIndex(1);
    const statsample dayNewest = values->sampleAtIndex(0, 2);
    const double dayValue = dayNewest.values[1];
    const double stoppedAt = stopAndPause(*values);
    values.reset();

    // Restart: the rings come back from the files and the pause is filled.
    auto again = std::make_shared<fwtest::TestValuesCollector>(3);
    again->setDbpath(kLocalDB);
    again->setDbpathLong(kLongTermDB);
    again->prepareDatabase(false);
    again->loadPreviousSamples();
    EXPECT_EQ(again->idForInterval(1), hourBefore.sampleID);
    EXPECT_EQ(again->sampleAtIndex(0, 2).sampleID, dayNewest.sampleID);
    EXPECT_DOUBLE_EQ(again->sampleAtIndex(0, 2).values[1], dayValue);
    EXPECT_GT(again->sampleAtIndex(0, 8).sampleID, 0) << "level 8 refilled from the long-term file";
    again->fillGaps();
    EXPECT_EQ(again->idForInterval(1), hourBefore.sampleID + 1200) << "one number per missed interval";
    again->startLogging();
    dispatch::MainLoop::runFor(600.0);
    flush();

    EXPECT_GE(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testvalueshistory WHERE empty = 1 AND" + during(stoppedAt)),
              500);
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testvalueshistory WHERE empty = 0 AND" + during(stoppedAt)),
              0);
    long longGap = sqlNumber(kLongTermDB, "SELECT count(*) FROM testvalueshistory WHERE empty = 1 AND" + during(stoppedAt));
    EXPECT_GE(longGap, 23);
    EXPECT_LE(longGap, 24);
    EXPECT_GT(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testvalueshistory WHERE empty = 0 AND time > " +
                                      std::to_string(long(stoppedAt + 7200))),
              90)
        << "sampling resumed after the pause";
    EXPECT_EQ(sql(kLocalDB, "PRAGMA integrity_check"), "ok");
    again->cleanup();
}

TEST_F(TwoDaysTest, StorageTypeTwoCollector) {
    const double begin = platform::Clock::now();
    auto devices = std::make_shared<fwtest::TestDevicesCollector>();
    startCollector(*devices);
    dispatch::MainLoop::runFor(2 * 86400.0);
    flush();
    const double end = platform::Clock::now();

    expectPruned("hour_testdevicesidhistory");
    expectPruned("day_testdevicesidhistory");
    const long weeks = long(std::floor((end - begin) / 1008));
    for (const char* key : {"en0", "en1"}) {
        const std::string k = std::string("'") + key + "'";
        EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM week_testdeviceshistory WHERE uuid = " + k), weeks) << key;
        EXPECT_LE(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdeviceshistory WHERE uuid = " + k), 603 + 24);
        EXPECT_GE(sqlNumber(kLongTermDB, "SELECT count(*) FROM testdeviceshistory WHERE uuid = " + k),
                  2 * 86400 / 300 - 2);
    }
    // An item row carries the item's window start as its time and the mean of its seconds.
    std::string row = sql(kLocalDB, "SELECT h.time, h.rx, i.time FROM hour_testdeviceshistory h JOIN "
                                    "hour_testdevicesidhistory i ON i.sample = h.sample WHERE h.uuid = 'en1' ORDER BY "
                                    "h.sample DESC LIMIT 1");
    double start = std::atof(row.c_str());
    double rx = std::atof(row.substr(row.find('|') + 1).c_str());
    double levelTime = std::atof(row.substr(row.rfind('|') + 1).c_str());
    EXPECT_EQ(start, levelTime - 6) << row;
    double mean = 0;
    for (int k = 1; k <= 6; ++k) mean += fwtest::deviceRx(start + k, "en1") / 6;
    EXPECT_NEAR(rx, mean, 1e-9) << row;

    const double stoppedAt = stopAndPause(*devices);
    devices.reset();
    auto again = std::make_shared<fwtest::TestDevicesCollector>();
    startCollector(*again);
    dispatch::MainLoop::runFor(600.0);
    flush();
    EXPECT_GE(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdevicesidhistory WHERE" + during(stoppedAt)), 500);
    EXPECT_EQ(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdeviceshistory WHERE" + during(stoppedAt)), 0)
        << "empty item samples write no item rows";
    EXPECT_GT(sqlNumber(kLocalDB, "SELECT count(*) FROM hour_testdeviceshistory WHERE uuid = 'en0' AND time > " +
                                      std::to_string(long(stoppedAt + 7200))),
              90)
        << "sampling resumed after the pause";
    EXPECT_EQ(sql(kLocalDB, "PRAGMA integrity_check"), "ok");
    again->cleanup();
}

}  // namespace
