#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>
#include <gtest/gtest.h>
#include "platform/time/Clock.h"

namespace telvo::platform {
namespace {

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { Clock::resetForTesting(); }
};

TEST_F(ClockTest, RealModeFollowsTheSystemClocks) {
    EXPECT_FALSE(Clock::isVirtual());
    double wall = Clock::now();
    EXPECT_NEAR(wall, static_cast<double>(std::time(nullptr)), 2.0);
    double a = Clock::monotonic();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(Clock::monotonic(), a);
    // advance has no effect on real time.
    Clock::advance(3600);
    EXPECT_NEAR(Clock::now(), static_cast<double>(std::time(nullptr)), 2.0);
}

TEST_F(ClockTest, VirtualTimeStandsStillUntilAdvanced) {
    Clock::useVirtual(1234.5);
    EXPECT_TRUE(Clock::isVirtual());
    double mono = Clock::monotonic();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(Clock::now(), 1234.5);
    EXPECT_EQ(Clock::monotonic(), mono);
    Clock::advance(10.25);
    EXPECT_DOUBLE_EQ(Clock::now(), 1244.75);
    EXPECT_DOUBLE_EQ(Clock::monotonic(), mono + 10.25);
    Clock::advance(-5);  // never backwards
    EXPECT_DOUBLE_EQ(Clock::now(), 1244.75);
    // A clock change moves wall time only.
    Clock::setVirtualNow(100);
    EXPECT_DOUBLE_EQ(Clock::now(), 100);
    EXPECT_DOUBLE_EQ(Clock::monotonic(), mono + 10.25);
    Clock::setVirtualNow(110);
    EXPECT_DOUBLE_EQ(Clock::monotonic(), mono + 20.25);
    // Calling again restarts wall time; monotonic time never runs backwards.
    double before = Clock::monotonic();
    Clock::useVirtual(5);
    EXPECT_EQ(Clock::now(), 5);
    EXPECT_GE(Clock::monotonic(), before);
    Clock::useReal();
    EXPECT_FALSE(Clock::isVirtual());
    EXPECT_GT(Clock::now(), 1e9);
}

TEST_F(ClockTest, WallStepsMoveOnlyTheWallClock) {
    Clock::useVirtual(1000);
    const double mono = Clock::monotonic();
    EXPECT_DOUBLE_EQ(Clock::sinceBoot(), mono);
    Clock::stepVirtualWall(86400);
    EXPECT_DOUBLE_EQ(Clock::now(), 87400);
    EXPECT_DOUBLE_EQ(Clock::monotonic(), mono);
    Clock::stepVirtualWall(-86400 - 3600);
    EXPECT_DOUBLE_EQ(Clock::now(), 1000 - 3600);
    EXPECT_DOUBLE_EQ(Clock::sinceBoot(), mono);
    Clock::useReal();
    Clock::stepVirtualWall(100);  // no effect on real time
    EXPECT_NEAR(Clock::now(), static_cast<double>(std::time(nullptr)), 2.0);
    EXPECT_GT(Clock::sinceBoot(), 0);
}

TEST_F(ClockTest, NanosecondsAndSecondsConvertExactly) {
    EXPECT_EQ(Clock::toNanos(0.1), 100000000);
    EXPECT_EQ(Clock::toNanos(1700000000.25), 1700000000250000000);
    EXPECT_EQ(Clock::toNanos(-1.5), -1500000000);
    EXPECT_EQ(Clock::toSeconds(1700000000250000000), 1700000000.25);
    EXPECT_EQ(Clock::toSeconds(-1500000000), -1.5);
    // Any time the clock shows comes back as the same seconds.
    for (double t : {1234.5, 1700000000.123, 1e-9, 86400.1, -0.3})
        EXPECT_EQ(Clock::toSeconds(Clock::toNanos(t)), t) << t;
    // Infinite, centuries-long and NaN spans are bounded.
    EXPECT_EQ(Clock::toNanos(INFINITY), Clock::kForeverNanos);
    EXPECT_EQ(Clock::toNanos(1e300), Clock::kForeverNanos);
    EXPECT_EQ(Clock::toNanos(-INFINITY), -Clock::kForeverNanos);
    EXPECT_EQ(Clock::toNanos(NAN), 0);
    EXPECT_EQ(Clock::addNanos(Clock::kForeverNanos, Clock::kForeverNanos), Clock::kForeverNanos);
    EXPECT_EQ(Clock::addNanos(-Clock::kForeverNanos, -5), -Clock::kForeverNanos);
    // Virtual time moves in whole nanoseconds: a thousand steps of a tenth make 100 s exactly.
    Clock::useVirtual(0);
    const int64_t mono = Clock::monotonicNanos();
    for (int i = 0; i < 1000; ++i) Clock::advance(0.1);
    EXPECT_EQ(Clock::nowNanos(), 100000000000);
    EXPECT_EQ(Clock::monotonicNanos() - mono, 100000000000);
    EXPECT_EQ(Clock::now(), 100.0);
}

}  // namespace
}  // namespace telvo::platform
