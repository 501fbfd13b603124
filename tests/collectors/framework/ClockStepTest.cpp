// Steps of the wall clock while collectors run, on the virtual clock with real history files:
// a day ahead and back, and an hour back. The levels follow the new time at once (rows resume
// within two minutes, none is written for time that never passed), sample numbers keep
// growing, and each step is logged once however many collectors see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/TestCollectors.h"

using namespace telvo;
using fwtest::kLocalDB;
using fwtest::kLongTermDB;

namespace {

class ClockStepTest : public fwtest::HistoryFixture {
protected:
    std::string span(double from, double to) {
        return " time > " + std::to_string(long(from)) + " AND time <= " + std::to_string(long(to));
    }
    long rows(const std::string& file, const std::string& table, double from, double to) {
        return sqlNumber(file, "SELECT count(*) FROM " + table + " WHERE empty = 0 AND" + span(from, to));
    }
    long anyRows(const std::string& file, const std::string& table, double from, double to) {
        return sqlNumber(file, "SELECT count(*) FROM " + table + " WHERE" + span(from, to));
    }
    // Numbers used twice, or rows whose numbers do not grow in the order they were written.
    long disorder(const std::string& file, const std::string& table) {
        return sqlNumber(file, "SELECT count(*) FROM " + table + " a JOIN " + table +
                                   " b ON a.rowid < b.rowid AND a.sample >= b.sample");
    }

    void runSteps(const std::vector<double>& steps) {
        std::vector<std::string> lines;
        fwtest::LogCapture capture(lines);
        auto values = std::make_shared<fwtest::TestValuesCollector>(2);
        auto devices = std::make_shared<fwtest::TestDevicesCollector>();
        startCollector(*values);
        startCollector(*devices, false);
        dispatch::MainLoop::runFor(900.0);
        for (double step : steps) {
            SCOPED_TRACE("step " + std::to_string(step));
            const double before = platform::Clock::now();
            platform::Clock::stepVirtualWall(step);
            const double at = platform::Clock::now();
            dispatch::MainLoop::runFor(120.0);
            flush();
            // The hour level resumes at once: about one row per 6 s from the step on.
            EXPECT_GE(rows(kLocalDB, "hour_testvalueshistory", at, at + 120), 18);
            EXPECT_GE(rows(kLocalDB, "hour_testdeviceshistory", at, at + 120), 18);
            if (step > 0) {
                // Nothing for the day that was skipped, not even empty rows marking a gap.
                EXPECT_EQ(anyRows(kLocalDB, "hour_testvalueshistory", before + 6, at - 6), 0);
                EXPECT_EQ(anyRows(kLongTermDB, "testvalueshistory", before + 300, at - 300), 0);
            }
            dispatch::MainLoop::runFor(780.0);
            flush();
            // The day level (144 s) and the long-term level (300 s, on its grid) follow too.
            EXPECT_GE(rows(kLocalDB, "day_testvalueshistory", at, at + 900), 5);
            EXPECT_GE(rows(kLongTermDB, "testvalueshistory", at, at + 900), 2);
            EXPECT_EQ(std::fmod(values->sampleIndex(8).nextTime, 300.0), 0);
            const double now = platform::Clock::now();
            for (int64_t level = 1; level <= 8; ++level) {
                EXPECT_GT(values->sampleIndex(level).nextTime, now - values->sampleIndex(level).interval - 1)
                    << "level " << level;
                EXPECT_LE(values->sampleIndex(level).nextTime, now + values->sampleIndex(level).interval + 1)
                    << "level " << level;
            }
        }
        for (const char* table : {"hour_testvalueshistory", "day_testvalueshistory", "hour_testdevicesidhistory"})
            EXPECT_EQ(disorder(kLocalDB, table), 0) << table;
        EXPECT_EQ(disorder(kLongTermDB, "testvalueshistory"), 0);
        const long logged = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("clock stepped") != std::string::npos;
        });
        EXPECT_EQ(logged, long(steps.size())) << "one line per step, for both collectors";
        if (!steps.empty()) {
            const std::string first = steps[0] > 0 ? "+86400 s" : "-3600 s";
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& l) { return l.find(first) != std::string::npos; }))
                << "the line says by how much";
        }
        values->cleanup();
        devices->cleanup();
    }
};

TEST_F(ClockStepTest, ADayAheadThenCorrected) { runSteps({86400, -86400}); }

TEST_F(ClockStepTest, AnHourBack) { runSteps({-3600}); }

TEST_F(ClockStepTest, ARestartAfterTheClockWasSetBackResumesAtOnce) {
    // Twenty minutes with the clock an hour ahead, a stop, the clock set right, a start.
    platform::Clock::stepVirtualWall(3600);
    auto before = std::make_shared<fwtest::TestValuesCollector>(1);
    startCollector(*before);
    dispatch::MainLoop::runFor(1200.0);
    const double storedHour = before->idForInterval(1);
    const double storedLong = before->idForInterval(8);
    before->cleanup();
    dispatch::MainLoop::runUntilIdle();
    flush();
    HistoryDatabaseController::resetForTesting();
    platform::Clock::stepVirtualWall(-3600);
    dispatch::MainLoop::runFor(10.0);

    const double at = platform::Clock::now();
    auto after = std::make_shared<fwtest::TestValuesCollector>(1);
    startCollector(*after);
    dispatch::MainLoop::runFor(900.0);
    flush();
    EXPECT_GE(rows(kLocalDB, "hour_testvalueshistory", at, at + 120), 18);
    EXPECT_GE(rows(kLongTermDB, "testvalueshistory", at, at + 900), 2);
    EXPECT_GT(after->idForInterval(1), storedHour) << "numbered above the rows stored ahead";
    EXPECT_GT(after->idForInterval(8), storedLong);
    EXPECT_EQ(std::fmod(after->sampleIndex(8).nextTime, 300.0), 0);
    EXPECT_EQ(disorder(kLocalDB, "hour_testvalueshistory"), 0);
    EXPECT_EQ(disorder(kLongTermDB, "testvalueshistory"), 0);
    after->cleanup();
}

TEST_F(ClockStepTest, SmallDriftIsNoStep) {
    std::vector<std::string> lines;
    fwtest::LogCapture capture(lines);
    auto values = std::make_shared<fwtest::TestValuesCollector>(1);
    startCollector(*values);
    dispatch::MainLoop::runFor(60.0);
    const sampleindexconfig hour = values->sampleIndex(1);
    platform::Clock::stepVirtualWall(2.0);  // a time service's small correction
    dispatch::MainLoop::runFor(1.0);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(values->sampleIndex(1).nextTime, hour.nextTime + (values->sampleIndex(1).sampleID - hour.sampleID) * 6);
    values->cleanup();
}

}  // namespace
