// Lines about unauthorised peers: a few a minute per address, then one line with the count.
#include <gtest/gtest.h>

#include <memory>

#include "DaemonFixture.h"
#include "daemon/PeerLogLimiter.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

class PeerLogLimiterTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        platform::Clock::useVirtual(1'800'000'000);
    }
    void TearDown() override {
        dispatch::MainLoop::resetForTesting();
        DaemonFixture::TearDown();
    }
};

}  // namespace

TEST_F(PeerLogLimiterTest, AFewLinesAMinutePerAddressThenOneLineWithTheCount) {
    auto limiter = std::make_shared<PeerLogLimiter>();
    int allowed = 0;
    for (int i = 0; i < 100; ++i) allowed += limiter->allow("10.0.0.1");
    EXPECT_EQ(allowed, PeerLogLimiter::kLinesPerMinute);
    EXPECT_EQ(limiter->leftOut("10.0.0.1"), 100 - PeerLogLimiter::kLinesPerMinute);
    EXPECT_TRUE(limiter->allow("10.0.0.2"));  // another address has its own budget
    const std::string summary = "10.0.0.1: 84 lines about this host left out in the last minute";
    EXPECT_FALSE(logged(summary));
    // A minute later the timer writes the count, even with no further line about the host.
    platform::Clock::advance(PeerLogLimiter::kWindow);
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return logged(summary); }, 10));
    EXPECT_TRUE(limiter->allow("10.0.0.1"));
    EXPECT_EQ(limiter->leftOut("10.0.0.1"), 0);
    // An address that stayed within its budget gets no summary line.
    for (const auto& line : logMessages()) EXPECT_EQ(line.find("10.0.0.2: "), std::string::npos) << line;
}
