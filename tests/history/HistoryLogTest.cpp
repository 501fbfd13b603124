// The layer's diagnostics reach the logging core as informational records with their source.
#include <gtest/gtest.h>

#include <mutex>

#include "foundation/logging/DDAbstractLogger.h"
#include "foundation/logging/DDLog.h"
#include "history/HistoryDatabaseController.h"
#include "history/HistoryTestSupport.h"

namespace telvo {
namespace {

class CapturingLogger : public DDAbstractLogger {
public:
    CapturingLogger() : DDAbstractLogger("capture") {}
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(message);
    }
    std::mutex mutex;
    std::vector<DDLogMessagePtr> messages;
};

class HistoryLogTest : public testing::TempRootTest {
protected:
    void TearDown() override {
        HistoryDatabaseController::resetForTesting();
        DDLog::resetForTesting();
        TempRootTest::TearDown();
    }
};

TEST_F(HistoryLogTest, AFileThatCannotBeOpenedIsReportedToTheLoggingCore) {
    auto logger = std::make_shared<CapturingLogger>();
    DDLog::addLogger(logger);
    HistoryDatabaseItemPtr item = databaseItemWithPath(std::string("/no/such/folder/local.db"));
    ASSERT_TRUE(item);
    item->queryDatabase([](const FMDatabasePtr& db) { db->executeUpdate("create table t (a)"); });
    DDLog::flushLog();
    std::lock_guard<std::mutex> lock(logger->mutex);
    DDLogMessagePtr open, notOpen;
    for (const auto& m : logger->messages) {
        if (m->logMsg() == "Could not open db.") open = m;
        if (m->logMsg().find("is not open.") != std::string::npos) notOpen = m;
    }
    ASSERT_TRUE(open);
    EXPECT_EQ(open->logFlag(), DDLogFlagInfo);
    EXPECT_EQ(open->fileName(), "HistoryDatabaseItem");
    EXPECT_GT(open->lineNumber(), 0);
    ASSERT_TRUE(notOpen);
    EXPECT_EQ(notOpen->fileName(), "FMDatabase");
}

}  // namespace
}  // namespace telvo
