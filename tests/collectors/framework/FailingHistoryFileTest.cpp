// A short-term history file whose writes fail (a full disk) across two commit points on the
// virtual clock and then succeed: the rows of the failed commits reach the file at the next
// one, in order and with their sample numbers, and the log has one line for the failure and
// one for the recovery.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <mutex>
#include <string>
#include <vector>

#include "HistoryFixture.h"
#include "TestCollectors.h"
#include "history/HistoryLog.h"
#include "history/WriteFaultVfs.h"

namespace telvo {
namespace {

class FailingHistoryFileTest : public fwtest::HistoryFixture {
protected:
    void SetUp() override {
        // Before any file opens, so every connection goes through the seam.
        history::WriteFaultVfs::install();
        HistoryFixture::SetUp();
        history::setLogHookForTesting([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    void TearDown() override {
        history::WriteFaultVfs::clearFault();
        history::setLogHookForTesting(nullptr);
        HistoryFixture::TearDown();
    }
    int linesWith(const std::string& part) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const auto& l : lines_) n += l.find(part) != std::string::npos;
        return n;
    }
    // The local file's commits run on its queue: a synchronous query waits for them.
    void settle() {
        dispatch::MainLoop::runUntilIdle();
        databaseItemWithPath(fwtest::kLocalDB)->queryDatabase([](const FMDatabasePtr&) {});
    }

    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST_F(FailingHistoryFileTest, EveryHourRowOfTheWindowReachesTheFileInOrderOnceItCanBeWrittenAgain) {
    auto c = std::make_shared<fwtest::TestValuesCollector>(1);
    startCollector(*c);
    dispatch::MainLoop::runFor(30);
    c->runDatabaseQueue();
    settle();
    const long before = sqlNumber(fwtest::kLocalDB, "SELECT count(*) FROM hour_testvalueshistory");
    ASSERT_GT(before, 0);

    // The disk fills: the day level's commits (every 144 s) and the long-term ones (every
    // 300 s) fail for 300 s.
    history::WriteFaultVfs::setFault(SQLITE_FULL, "local.db");
    // Each half holds a commit point of the day level, and each fails.
    for (int half = 0; half < 2; ++half) {
        const long failedBefore = history::WriteFaultVfs::failedWrites();
        dispatch::MainLoop::runFor(150);
        settle();
        ASSERT_GT(history::WriteFaultVfs::failedWrites(), failedBefore) << "no failed commit in half " << half;
        EXPECT_TRUE(databaseItemWithPath(fwtest::kLocalDB)->failing());
    }
    EXPECT_EQ(sqlNumber(fwtest::kLocalDB, "SELECT count(*) FROM hour_testvalueshistory"), before);
    EXPECT_EQ(linesWith("database or disk is full"), 1) << "one line when the file starts failing";
    EXPECT_EQ(linesWith("is written again"), 0);

    // Freed: the next commit point writes everything that waited.
    history::WriteFaultVfs::clearFault();
    dispatch::MainLoop::runFor(150);
    settle();
    EXPECT_EQ(linesWith("is written again"), 1) << "one line when it writes again";
    EXPECT_EQ(linesWith("database or disk is full"), 1);

    // Every sample number from the first row to the newest the collector committed, once each
    // and inserted in order; each row as the ring holds it.
    EXPECT_EQ(sql(fwtest::kLocalDB,
                  "SELECT count(*) = max(sample) - min(sample) + 1 FROM hour_testvalueshistory"),
              "1");
    EXPECT_EQ(sql(fwtest::kLocalDB,
                  "SELECT count(*) FROM hour_testvalueshistory a JOIN hour_testvalueshistory b "
                  "ON b.rowid > a.rowid AND b.sample < a.sample"),
              "0")
        << "rows out of order";
    const long newest = sqlNumber(fwtest::kLocalDB, "SELECT max(sample) FROM hour_testvalueshistory");
    EXPECT_GE(newest, long(c->idForInterval(1)) - 25) << "rows queued after the last commit point only";
    EXPECT_GE(newest - before, 50) << "the 300 s window alone holds 50 hour rows";
    int compared = 0;
    for (int64_t slot = 0; slot < 602; ++slot) {
        statsample s = c->sampleAtIndex(slot, 1);
        if (s.sampleID <= 0 || s.sampleID > newest) continue;
        const std::string row = sql(fwtest::kLocalDB, "SELECT time, empty FROM hour_testvalueshistory WHERE sample = " +
                                                          std::to_string(int64_t(s.sampleID)));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.1f|%d", s.time, int(s.empty));
        EXPECT_EQ(row, expected) << "sample " << s.sampleID;
        ++compared;
    }
    EXPECT_GE(compared, 50);
    c->cleanup();
}

}  // namespace
}  // namespace telvo
