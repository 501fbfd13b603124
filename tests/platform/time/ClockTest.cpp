#include <chrono>
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

}  // namespace
}  // namespace telvo::platform
