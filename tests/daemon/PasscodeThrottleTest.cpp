// The passcode throttle on the virtual clock: per-address and global budgets, waiting guesses,
// guesses dropped while waiting, and a right passcode resetting its address.
#include <gtest/gtest.h>

#include <vector>

#include "daemon/PasscodeThrottle.h"
#include "platform/time/Clock.h"

using namespace telvo;
using Turn = PasscodeThrottle::Turn;

namespace {

class PasscodeThrottleTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Clock::useVirtual(1'800'000'000); }
    void TearDown() override { platform::Clock::useReal(); }

    // Queues one guess and checks it as soon as the throttle allows, advancing the clock in
    // steps of 0.25 s; answers the seconds it waited.
    double guess(const std::string& address, bool right = false) {
        auto ticket = throttle_.enqueue(address);
        EXPECT_TRUE(ticket);
        double waited = 0;
        double wait = 0;
        while (throttle_.admit(address, *ticket, &wait) == Turn::kWait) {
            EXPECT_GT(wait, 0);
            platform::Clock::advance(0.25);
            waited += 0.25;
        }
        throttle_.recordResult(address, right);
        return waited;
    }

    PasscodeThrottle throttle_;
};

}  // namespace

TEST_F(PasscodeThrottleTest, ThreeFreeFailuresThenTheGapDoublesUpToThirtySeconds) {
    EXPECT_EQ(PasscodeThrottle::delayForFailure(1), 0);
    std::vector<double> gaps;
    for (int i = 0; i < 10; ++i) gaps.push_back(guess("10.0.0.9"));
    EXPECT_EQ(gaps, (std::vector<double>{0, 0, 0, 1, 2, 4, 8, 16, 30, 30}));
    EXPECT_EQ(throttle_.failures("10.0.0.9"), 10);
    // Another address is not slowed by this one.
    EXPECT_EQ(guess("10.0.0.7"), 0);
    // A right passcode clears its address: the next failures are free again.
    EXPECT_EQ(guess("10.0.0.9", true), 30);
    EXPECT_EQ(throttle_.failures("10.0.0.9"), 0);
    EXPECT_EQ(guess("10.0.0.9"), 0);
    // A quiet spell forgets the count.
    for (int i = 0; i < 4; ++i) guess("10.0.0.8");
    platform::Clock::advance(PasscodeThrottle::kForgetAfter + 1);
    EXPECT_EQ(throttle_.failures("10.0.0.8"), 4);  // still listed until the next guess
    EXPECT_EQ(guess("10.0.0.8"), 0);
    EXPECT_EQ(throttle_.failures("10.0.0.8"), 1);
}

TEST_F(PasscodeThrottleTest, GuessesWaitInTurnAtMostFourPerAddressAndAClosedOneIsNeverChecked) {
    for (int i = 0; i < 3; ++i) guess("10.0.0.1");
    std::vector<PasscodeThrottle::Ticket> tickets;
    for (int i = 0; i < PasscodeThrottle::kMaximumWaiting; ++i) tickets.push_back(*throttle_.enqueue("10.0.0.1"));
    EXPECT_FALSE(throttle_.enqueue("10.0.0.1"));  // a fifth waits nowhere: its connection closes
    EXPECT_TRUE(throttle_.enqueue("10.0.0.2"));   // other addresses are not affected
    EXPECT_EQ(throttle_.waiting("10.0.0.1"), 4);

    // Nothing may be checked for a second; the second guess never goes before the first.
    double wait = 0;
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[0], &wait), Turn::kWait);
    EXPECT_DOUBLE_EQ(wait, 1.0);
    platform::Clock::advance(1);
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[1]), Turn::kWait);
    // The first one's connection closed: it leaves unchecked and the second is next.
    throttle_.cancel("10.0.0.1", tickets[0]);
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[0]), Turn::kUnknown);
    long checksBefore = throttle_.checks();
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[1]), Turn::kCheckNow);
    throttle_.recordResult("10.0.0.1", false);
    EXPECT_EQ(throttle_.checks(), checksBefore + 1);
    EXPECT_EQ(throttle_.failures("10.0.0.1"), 4);
    // Room again for one more waiting guess.
    EXPECT_TRUE(throttle_.enqueue("10.0.0.1"));
    // The next waits 2 s from that check.
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[2], &wait), Turn::kWait);
    EXPECT_DOUBLE_EQ(wait, 2.0);
    platform::Clock::advance(2);
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[2]), Turn::kCheckNow);
    // A right passcode that waited its turn is checked like any other and resets the address.
    throttle_.recordResult("10.0.0.1", true);
    EXPECT_EQ(throttle_.failures("10.0.0.1"), 0);
    EXPECT_EQ(throttle_.admit("10.0.0.1", tickets[3]), Turn::kCheckNow);
    throttle_.reset();
    EXPECT_EQ(throttle_.waiting("10.0.0.1"), 0);
}

TEST_F(PasscodeThrottleTest, TwentyFailuresInAMinuteLimitAllAddressesToOneCheckEveryThreeSeconds) {
    // Free failures (three per address) from seven addresses: twenty in well under a minute.
    for (int n = 0; n < PasscodeThrottle::kGlobalFailures; ++n) {
        EXPECT_FALSE(throttle_.globallyLimited());
        EXPECT_EQ(guess("10.1.0." + std::to_string(n / 3)), 0) << n;
        if (n + 1 < PasscodeThrottle::kGlobalFailures) platform::Clock::advance(1);
    }
    EXPECT_TRUE(throttle_.globallyLimited());
    // A fresh address, whose own budget is untouched, waits for the global one too.
    std::vector<double> gaps;
    for (int a = 10; a < 14; ++a) gaps.push_back(guess("10.1.0." + std::to_string(a)));
    for (double gap : gaps) EXPECT_DOUBLE_EQ(gap, PasscodeThrottle::kGlobalInterval);
    // A right passcode is no failure, but its check still took the global turn.
    EXPECT_DOUBLE_EQ(guess("10.1.0.20", true), PasscodeThrottle::kGlobalInterval);
    // A minute without a failure ends the limit.
    platform::Clock::advance(PasscodeThrottle::kGlobalWindow);
    EXPECT_FALSE(throttle_.globallyLimited());
    EXPECT_EQ(guess("10.1.0.30"), 0);
    EXPECT_EQ(guess("10.1.0.31"), 0);
}

// Eight senders that never wait for an answer get at most a dozen guesses checked in a
// minute when their connections close at once: a guess whose turn has not come is dropped.
TEST_F(PasscodeThrottleTest, AFloodThatDoesNotWaitGetsItsFreeGuessesOnly) {
    long checked = 0;
    for (double t = 0; t < 60; t += 0.01) {
        for (int sender = 0; sender < 8; ++sender) {
            auto ticket = throttle_.enqueue("127.0.0.1");
            if (!ticket) continue;
            if (throttle_.admit("127.0.0.1", *ticket) == Turn::kCheckNow) {
                ++checked;
                throttle_.recordResult("127.0.0.1", false);
            } else {
                throttle_.cancel("127.0.0.1", *ticket);  // the sender has already gone
            }
        }
        platform::Clock::advance(0.01);
    }
    EXPECT_LE(checked, 12);
    EXPECT_GE(checked, 3);
}
