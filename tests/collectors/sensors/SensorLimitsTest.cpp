// "sensor_limits" in the real history file (checked with sqlite3): made at the first start, the
// recorded extremes kept across a restart, taken from the history tables when a sensor has no
// row, and the sensor type in the history rows.
#include <gtest/gtest.h>

#include "SensorsFixture.h"

using namespace telvo;

namespace {

class SensorLimits : public sensorstest::SensorsFixture {
protected:
    void restart() {
        SensorsStatCollectorMac::resetForTesting();
        SensorSMCController::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        HistoryDatabaseController::resetForTesting();
    }
};

TEST_F(SensorLimits, ExtremesSurviveARestart) {
    bool changed = false;
    auto c = start(&changed);
    EXPECT_TRUE(changed) << "the controller then logs that the schema changed";
    c->runDatabaseQueue();
    // One row per electric sensor, none for fans; low 0 and high 0 (no history yet).
    EXPECT_EQ(sql(fwtest::kLocalDB, "select uuid, low, high from sensor_limits order by uuid"),
              "IC0R|0.0|0.0\nPD0R|0.0|0.0\nTC0D|0.0|0.0\nTC0P|0.0|0.0\nTG0D|0.0|0.0\nTh1H|0.0|0.0\nVC1C|0.0|0.0");

    smc_->setSP78("TC0P", 30);
    dispatch::MainLoop::runFor(2.0);
    smc_->setSP78("TC0P", 70);
    dispatch::MainLoop::runFor(2.0);
    smc_->setSP78("TC0P", 50);
    dispatch::MainLoop::runFor(8.0);
    flush();
    EXPECT_EQ(sql(fwtest::kLocalDB, "select low, high from sensor_limits where uuid = 'TC0P'"), "30.0|70.0");
    EXPECT_EQ(sql(fwtest::kLocalDB, "select low, high from sensor_limits where uuid = 'TG0D'"), "0.0|0.0")
        << "an absent reading moves nothing";
    // Level-1 rows carry the sensor type.
    EXPECT_GE(sqlNumber(fwtest::kLocalDB, "select count(*) from hour_sensorhistory where uuid = 'PD0R' and type = 5"), 1);
    EXPECT_GE(sqlNumber(fwtest::kLocalDB, "select count(*) from hour_sensorhistory where uuid = 'F0Ac' and type = 2"), 1);
    EXPECT_EQ(sqlNumber(fwtest::kLocalDB, "select count(*) from hour_sensorhistory where value is null"), 0);

    c.reset();
    restart();
    smc_->setSP78("TC0P", 50);
    bool changedAgain = true;
    auto again = start(&changedAgain);
    EXPECT_FALSE(changedAgain);
    auto proximity = sensor(again, "TC0P");
    EXPECT_EQ(proximity->lowestRecordedValue(), 30.0f);
    EXPECT_EQ(proximity->highestRecordedValue(), 70.0f);
    EXPECT_EQ(sensor(again, "TG0D")->lowestRecordedValue(), -1.0f) << "a stored low of 0 means none yet";
    EXPECT_EQ(sqlNumber(fwtest::kLocalDB, "select count(*) from sensor_limits"), 7) << "no second row";
}

TEST_F(SensorLimits, WithoutARowTheHighestComesFromTheHistoryTables) {
    auto c = start();
    c->runDatabaseQueue();
    flush();
    c.reset();
    restart();
    ASSERT_EQ(sql(fwtest::kLocalDB,
                  "delete from sensor_limits where uuid = 'TC0D';"
                  " insert into hour_sensorhistory (sample, time, uuid, value, type) values (1, 1, 'TC0D', 61.5, 0);"
                  " insert into day_sensorhistory (sample, time, uuid, value, type) values (1, 1, 'TC0D', 77.25, 0);"
                  " insert into week_sensorhistory (sample, time, uuid, value, type) values (1, 1, 'TC0D', 64, 0);"
                  " insert into week_sensorhistory (sample, time, uuid, value, type) values (2, 1, 'TC0P', 99, 0);"),
              "");
    auto again = start();
    EXPECT_EQ(sensor(again, "TC0D")->highestRecordedValue(), 77.25f);
    EXPECT_EQ(sql(fwtest::kLocalDB, "select low, high from sensor_limits where uuid = 'TC0D'"), "0.0|77.25");
}

}  // namespace
