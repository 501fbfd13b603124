// The one-second clock on the virtual clock: whole seconds, re-aiming, votes, delegates,
// stopping, and the level advance it drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "collectors/framework/TestCollectors.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/time/Clock.h"

using namespace telvo;
using telvo::fwtest::TestValuesCollector;

namespace {

constexpr double kStart = 1700000000.0;

class CollectorClockTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Clock::useVirtual(kStart + 0.25); }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        platform::Clock::useReal();
    }
};

struct Voter : StatCollectorDelegate {
    bool answers = false;
    bool vote = false;
    std::vector<int64_t> modes;
    bool respondsToShouldUpdateStateForSequence() const override { return answers; }
    bool collectorShouldUpdateStateForSequence(StatCollector&, int64_t) override { return vote; }
    bool respondsToUpdatedForMode() const override { return true; }
    void collectorUpdatedForMode(StatCollector&, int64_t mode) override { modes.push_back(mode); }
};

TEST_F(CollectorClockTest, TicksFallOnWholeSeconds) {
    auto c = std::make_shared<TestValuesCollector>(2);
    c->startLogging();
    dispatch::MainLoop::runFor(10.0);
    ASSERT_EQ(c->samplesTaken, 10);
    for (size_t i = 0; i < c->sampleTimes.size(); ++i) EXPECT_EQ(c->sampleTimes[i], kStart + 1 + double(i));
    EXPECT_EQ(c->idForInterval(0), 11) << "level 0 starts at 1 and counts samples";
    EXPECT_EQ(c->updateSequence(), 10);
    EXPECT_EQ(c->sampleAtIndex(0, 0).values[1], fwtest::valuesSampleValue(kStart + 10, 1));
}

TEST_F(CollectorClockTest, StartCloseToAWholeSecondAimsAtTheNextButOne) {
    platform::Clock::useVirtual(kStart + 0.95);
    auto c = std::make_shared<TestValuesCollector>(1);
    c->startLogging();
    dispatch::MainLoop::runFor(2.2);
    ASSERT_FALSE(c->sampleTimes.empty());
    EXPECT_EQ(c->sampleTimes[0], kStart + 2);
}

// A collector whose sample moves the wall clock, as a slow sample or a clock change would.
struct JumpingCollector : TestValuesCollector {
    double jumpAt = 0;
    double jumpTo = 0;
    JumpingCollector() : TestValuesCollector(1) {}
    void updateStats() override {
        TestValuesCollector::updateStats();
        if (sampleIndex(0).time == jumpAt) platform::Clock::setVirtualNow(jumpTo);
    }
};

TEST_F(CollectorClockTest, ALateTickIsReaimedNotMadeUp) {
    auto c = std::make_shared<JumpingCollector>();
    c->jumpAt = kStart + 2;
    c->jumpTo = kStart + 2 + 3.2;  // this tick ends 3 s late
    c->startLogging();
    dispatch::MainLoop::runFor(8.0);
    ASSERT_GE(c->sampleTimes.size(), 3u);
    EXPECT_EQ(c->sampleTimes[0], kStart + 1);
    EXPECT_EQ(c->sampleTimes[1], kStart + 2);
    EXPECT_EQ(c->sampleTimes[2], kStart + 7) << "the whole second after the coming one, no burst";
}

TEST_F(CollectorClockTest, AClockThatRunsAheadIsPulledBack) {
    auto c = std::make_shared<JumpingCollector>();
    c->jumpAt = kStart + 2;
    c->jumpTo = kStart - 20.5;  // the system time moved back
    c->startLogging();
    dispatch::MainLoop::runFor(4.0);
    ASSERT_GE(c->sampleTimes.size(), 3u);
    EXPECT_EQ(c->sampleTimes[2], kStart - 19) << "aimed at now rounded up + 1 s";
}

TEST_F(CollectorClockTest, DelegatesVoteOnSampling) {
    struct Case {
        const char* what;
        bool addDelegate;
        bool answers;
        bool vote;
        bool samples;
    } cases[] = {
        {"no delegates: every tick samples", false, false, false, true},
        {"a delegate that does not answer: no tick samples", true, false, false, false},
        {"a delegate that says no", true, true, false, false},
        {"a delegate that says yes", true, true, true, true},
    };
    for (const auto& k : cases) {
        platform::Clock::useVirtual(kStart + 0.25);
        auto c = std::make_shared<TestValuesCollector>(1);
        auto voter = std::make_shared<Voter>();
        voter->answers = k.answers;
        voter->vote = k.vote;
        if (k.addDelegate) {
            c->addDelegate(voter);
            c->addDelegate(voter);  // added once
            EXPECT_EQ(c->delegates().size(), 1u);
        }
        c->startLogging();
        dispatch::MainLoop::runFor(5.0);
        EXPECT_EQ(c->samplesTaken, k.samples ? 5 : 0) << k.what;
        EXPECT_EQ(c->updateSequence(), 5) << k.what << ": ticks are counted either way";
        c->cleanup();
        dispatch::MainLoop::runFor(2.0);
    }
}

TEST_F(CollectorClockTest, DelegatesHearOfEveryDueLevel) {
    auto c = std::make_shared<TestValuesCollector>(1);
    auto voter = std::make_shared<Voter>();
    voter->answers = true;
    voter->vote = true;
    c->addDelegate(voter);
    c->startLogging();
    dispatch::MainLoop::runFor(150.0);
    int hour = 0, day = 0;
    for (int64_t m : voter->modes) {
        hour += m == 1;
        day += m == 2;
    }
    EXPECT_GE(hour, 23);
    EXPECT_GE(day, 1);
    c->updaterFinishBlock()(*c);
    EXPECT_EQ(voter->modes.back(), 0) << "the default finish block sends mode 0";
    c->removeDelegate(voter);
    EXPECT_TRUE(c->delegates().empty());
}

TEST_F(CollectorClockTest, AfterCleanupThePendingTickDoesNothing) {
    auto c = std::make_shared<TestValuesCollector>(1);
    c->startLogging();
    dispatch::MainLoop::runFor(3.0);
    c->cleanup();
    EXPECT_TRUE(c->stopped());
    dispatch::MainLoop::runFor(10.0);
    EXPECT_EQ(c->samplesTaken, 3);
}

TEST_F(CollectorClockTest, DestroyingARunningCollectorIsSafe) {
    auto c = std::make_shared<TestValuesCollector>(1);
    c->startLogging();
    dispatch::MainLoop::runFor(2.0);
    c.reset();
    dispatch::MainLoop::runFor(3.0);  // the pending tick finds no collector
}

TEST_F(CollectorClockTest, LevelsAverageTheirSourcesAsTheyAdvance) {
    auto c = std::make_shared<TestValuesCollector>(1);
    c->startLogging();
    dispatch::MainLoop::runFor(300.0);
    // Level 1: six one-second samples per interval; its newest sample is their mean.
    sampleindexconfig hour = c->sampleIndex(1);
    statsample newest = c->sampleAtIndex(0, 1);
    EXPECT_EQ(newest.sampleID, hour.sampleID);
    EXPECT_EQ(newest.empty, 0);
    double expect = 0;
    for (int k = 0; k < 6; ++k) expect += fwtest::valuesSampleValue(hour.time - 5 + k, 0);
    EXPECT_DOUBLE_EQ(newest.values[0], expect / 6);
    // Level 2 averages level 1.
    EXPECT_EQ(c->sampleAtIndex(0, 2).empty, 0);
    EXPECT_GT(c->idForInterval(2), 0);
    EXPECT_EQ(c->idForInterval(8), 0) << "no long-term file: level 8 never advances";
}

TEST_F(CollectorClockTest, AutomaticUpdatesOffFreezesTheLevels) {
    auto c = std::make_shared<TestValuesCollector>(1);
    c->setAutomaticSampleUpdates(false);
    c->startLogging();
    dispatch::MainLoop::runFor(30.0);
    EXPECT_EQ(c->samplesTaken, 30);
    EXPECT_EQ(c->idForInterval(1), 0);
}

TEST_F(CollectorClockTest, GapFillingAfterALongPause) {
    const double now = platform::Clock::now();
    auto c = std::make_shared<TestValuesCollector>(1);
    for (int64_t level = 1; level <= 8; ++level) {
        sampleindexconfig* rec = c->sampleIndexRecord(level);
        rec->time = std::floor(now) - 700 * rec->interval;
        rec->nextTime = rec->time + rec->interval;
        rec->sampleID = 10;
    }
    c->fillGaps();
    for (int64_t level : {1L, 8L}) {
        sampleindexconfig rec = c->sampleIndex(level);
        EXPECT_EQ(rec.sampleID, 10 + 700) << level << ": the number grows by every missed interval";
        EXPECT_EQ(rec.fillingGap, 1);
        EXPECT_GE(rec.nextTime, now);
    }
    int stored = 0;
    for (int s = 0; s < kSamplesPerLevel; ++s) stored += c->sampleAtIndex(s, 1).sampleID > 0;
    EXPECT_LE(stored, 603);
    EXPECT_GE(stored, 601);
    EXPECT_EQ(c->sampleAtIndex(0, 1).empty, 1) << "intervals inside the pause are empty";
    EXPECT_EQ(c->longTermSamples.size(), 700u) << "level 8 gets one sample per missed interval";
    auto never = std::make_shared<TestValuesCollector>(1);
    never->fillGaps();
    EXPECT_EQ(never->idForInterval(1), 1) << "a level whose time is 0 is left alone";
}

}  // namespace

namespace {

struct ThreadedCollector : TestValuesCollector {
    ThreadedCollector() : TestValuesCollector(1) {}
    bool threadedUpdating() const override { return true; }
    void updateStats() override {
        TestValuesCollector::updateStats();
        auto q = dispatch::Queue::current();
        if (!q || q->isMain()) onMain = true;
        updaterFinishBlock()(*this);
    }
    std::atomic<bool> onMain{false};
};

TEST_F(CollectorClockTest, ThreadedUpdatingSamplesOffTheMainQueue) {
    auto c = std::make_shared<ThreadedCollector>();
    auto voter = std::make_shared<Voter>();
    voter->answers = true;
    voter->vote = true;
    c->addDelegate(voter);
    c->startLogging();
    dispatch::MainLoop::runFor(5.0);
    EXPECT_EQ(c->samplesTaken, 5);
    EXPECT_FALSE(c->onMain) << "the sampling step runs on the global queue";
    EXPECT_EQ(std::count(voter->modes.begin(), voter->modes.end(), 0), 5)
        << "the finish block tells the delegates on the main queue";
    EXPECT_EQ(c->idForInterval(0), 6);
    c->cleanup();
}

}  // namespace
