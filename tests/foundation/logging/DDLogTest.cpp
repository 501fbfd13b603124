// The logging core: delivery order, levels, registration, flushing and the limit of 1000
// waiting records.
#include <atomic>
#include <chrono>
#include <thread>
#include "LoggingTestSupport.h"
#include "platform/dispatch/Semaphore.h"

namespace telvo::logtest {
namespace {

class DDLogTest : public LoggingTest {};

TEST_F(DDLogTest, DeliversEveryRecordInOrderToEveryLoggerOnItsOwnQueue) {
    for (unsigned processors : {1u, 4u}) {
        SCOPED_TRACE(processors);
        DDLog::setProcessorCountForTesting(processors);
        auto first = std::make_shared<RecordingLogger>("first");
        auto second = std::make_shared<RecordingLogger>("second");
        DDLog::addLogger(first);
        DDLog::addLogger(second);
        std::vector<std::string> expected;
        for (int i = 0; i < 200; ++i) {
            DDLogInfo("record %d of %@", i, std::string("test"));
            expected.push_back("record " + std::to_string(i) + " of test");
        }
        DDLog::flushLog();
        EXPECT_EQ(first->texts(), expected);
        EXPECT_EQ(second->texts(), expected);
        EXPECT_TRUE(first->allOnLoggerQueue());
        EXPECT_EQ(first->added_, 1);
        DDLog::resetForTesting();
        EXPECT_EQ(first->removed_, 1);
    }
}

TEST_F(DDLogTest, LevelsAndRegistrations) {
    auto all = std::make_shared<RecordingLogger>();
    auto errorsOnly = std::make_shared<RecordingLogger>();
    auto twice = std::make_shared<RecordingLogger>();
    auto never = std::make_shared<RecordingLogger>();
    DDLog::addLogger(all);
    DDLog::addLogger(errorsOnly, 1);  // lacks flag 4
    DDLog::addLogger(twice);
    DDLog::addLogger(twice);
    DDLog::removeLogger(never);    // never added: nothing changes
    DDLog::removeLogger(nullptr);
    DDLog::addLogger(nullptr);
    DDLogInfo("one");
    DDLog::log(true, 31, 4, 0, __FILE__, __func__, __LINE__, std::any(), static_cast<const char*>(nullptr));
    DDLog::flushLog();
    EXPECT_EQ(all->texts(), std::vector<std::string>{"one"});
    EXPECT_TRUE(errorsOnly->texts().empty());
    EXPECT_EQ(twice->texts(), (std::vector<std::string>{"one", "one"}));
    EXPECT_EQ(never->removed_, 0);

    DDLog::removeLogger(all);
    DDLogInfo("two");
    DDLog::flushLog();
    EXPECT_EQ(all->texts(), std::vector<std::string>{"one"});
    EXPECT_EQ(all->removed_, 1);
    // Only the first of the two registrations goes.
    DDLog::removeLogger(twice);
    DDLogInfo("three");
    DDLog::flushLog();
    EXPECT_EQ(twice->texts(), (std::vector<std::string>{"one", "one", "two", "two", "three"}));
}

TEST_F(DDLogTest, SynchronousDeliveryReturnsAfterTheLoggersAndFlushWithoutLoggersReturns) {
    DDLog::flushLog();  // nobody registered
    for (int i = 0; i < 1500; ++i) DDLogInfo("dropped %d", i);
    DDLog::flushLog();
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    DDLog::log(false, 31, 4, 0, __FILE__, __func__, __LINE__, std::any(), "now");
    EXPECT_EQ(logger->texts(), std::vector<std::string>{"now"});
}

TEST_F(DDLogTest, RecordDescribesItsCaller) {
    auto logger = std::make_shared<RecordingLogger>();
    std::vector<DDLogMessagePtr> seen;
    struct Keeper : RecordingLogger {
        std::vector<DDLogMessagePtr>* seen;
        void logMessage(const DDLogMessagePtr& m) override { seen->push_back(m); }
    };
    auto keeper = std::make_shared<Keeper>();
    keeper->seen = &seen;
    DDLog::addLogger(keeper);
    auto queue = dispatch::Queue::createSerial("caller.queue");
    int line = 0;
    queue->sync([&] {
        line = __LINE__ + 1;
        DDLogWarn("from %s", "a queue");
    });
    DDLog::flushLog();
    ASSERT_EQ(seen.size(), 1u);
    const DDLogMessage& m = *seen[0];
    EXPECT_EQ(m.logMsg(), "from a queue");
    EXPECT_EQ(m.logFlag(), 4);
    EXPECT_EQ(m.logLevel(), 31);
    EXPECT_EQ(m.logContext(), 0);
    EXPECT_EQ(m.queueLabel(), "caller.queue");
    EXPECT_EQ(m.lineNumber(), line);
    EXPECT_EQ(m.fileName(), "DDLogTest");
    EXPECT_FALSE(m.methodName().empty());
    EXPECT_EQ(m.threadID(), [&] {
        char b[16];
        std::snprintf(b, sizeof b, "%x", m.machThreadID());
        return std::string(b);
    }());
}

TEST_F(DDLogTest, MessageFileNamesAndCopies) {
    struct Case {
        const char* file;
        const char* expected;
    } cases[] = {
        {"/src/foundation/logging/DDLog.cpp", "DDLog"},
        {"/src/dir.with.dots/Makefile", "Makefile"},
        {"/a/b/archive.tar.gz", "archive.tar"},
        {"plain.h", "plain"},
        {"/a/.hidden", ".hidden"},
    };
    for (const auto& c : cases) {
        DDLogMessage m("x", 31, 4, 0, c.file, "f", 1, std::any(), 0);
        EXPECT_EQ(m.fileName(), c.expected) << c.file;
    }
    std::string file = "/tmp/transient.cpp";
    std::string function = "transientFunction";
    DDLogMessage copied("x", 31, 4, 0, file.c_str(), function.c_str(), 1, std::any(),
                        DDLogMessage::DDLogMessageCopyFile | DDLogMessage::DDLogMessageCopyFunction);
    DDLogMessage kept("x", 31, 4, 0, file.c_str(), function.c_str(), 1, std::any(), 0);
    EXPECT_EQ(kept.file(), file.c_str());
    EXPECT_NE(copied.file(), file.c_str());
    DDLogMessage copyOfCopy(copied);
    file.assign("/overwritten/other.cpp");
    function.assign("other");
    EXPECT_STREQ(copyOfCopy.file(), "/tmp/transient.cpp");
    EXPECT_STREQ(copyOfCopy.function(), "transientFunction");
    EXPECT_EQ(copyOfCopy.fileName(), "transient");
    EXPECT_EQ(DDLogMessage("x", 31, 4, 0, nullptr, nullptr, 1, std::any(), 0).methodName(), "");
}

TEST_F(DDLogTest, PerClassLevelsAreSwitchedOff) {
    EXPECT_TRUE(DDLog::registeredClassNames().empty());
    EXPECT_FALSE(DDLog::isRegisteredClass("DDFileLogger"));
    DDLog::setLogLevelForClassWithName(1, "DDFileLogger");
    EXPECT_EQ(DDLog::logLevelForClassWithName("DDFileLogger"), -1);
}

// Blocks in logMessage until given a permit per record.
class BlockingLogger : public DDAbstractLogger {
public:
    BlockingLogger() : DDAbstractLogger("BlockingLogger") {}
    void logMessage(const DDLogMessagePtr&) override {
        entered.signal();
        permits.wait();
        ++written;
    }
    dispatch::Semaphore permits{0};
    dispatch::Semaphore entered{0};
    std::atomic<int> written{0};
};

TEST_F(DDLogTest, TheRecordBeyondAThousandWaitsUntilOneIsWritten) {
    auto logger = std::make_shared<BlockingLogger>();
    DDLog::addLogger(logger);
    DDLogInfo("record 1");
    ASSERT_TRUE(logger->entered.wait(10)) << "the first record never reached the logger";
    for (int i = 2; i <= 1000; ++i) DDLogInfo("record %d", i);  // 1000 waiting: none blocks

    std::atomic<bool> returned{false};
    std::thread caller([&] {
        DDLogInfo("record 1001");
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned) << "the 1001st record did not wait";
    EXPECT_EQ(logger->written, 0);

    logger->permits.signal();  // the oldest record is written
    for (int i = 0; i < 500 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(returned) << "the 1001st record still waits after one was written";
    EXPECT_LE(logger->written, 1);
    caller.join();
    for (int i = 0; i < 1000; ++i) logger->permits.signal();
    DDLog::flushLog();
    EXPECT_EQ(logger->written, 1001);
}

class TaggingFormatter : public DDLogFormatter {
public:
    explicit TaggingFormatter(std::string tag) : tag_(std::move(tag)) {}
    std::optional<std::string> formatLogMessage(const DDLogMessage& m) override { return tag_ + m.logMsg(); }
    void didAddToLogger(DDLogger*) override { ++added; }
    void willRemoveFromLogger(DDLogger*) override { ++removed; }
    std::atomic<int> added{0}, removed{0};

private:
    std::string tag_;
};

// Applies the formatter of the logger to what it records.
class FormattingLogger : public RecordingLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::string text = formatter_ ? formatter_->formatLogMessage(*message).value_or("") : message->logMsg();
        RecordingLogger::logMessage(makeMessage(text));
    }
};

TEST_F(DDLogTest, FormatterChangesAreOrderedWithRecords) {
    auto logger = std::make_shared<FormattingLogger>();
    DDLog::addLogger(logger);
    auto a = std::make_shared<TaggingFormatter>("a:");
    auto b = std::make_shared<TaggingFormatter>("b:");
    DDLogInfo("1");
    logger->setLogFormatter(a);
    DDLogInfo("2");
    logger->setLogFormatter(a);  // the same one: no calls
    logger->setLogFormatter(b);
    DDLogInfo("3");
    EXPECT_EQ(logger->logFormatter(), b);
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"1", "a:2", "b:3"}));
    EXPECT_EQ(a->added, 1);
    EXPECT_EQ(a->removed, 1);
    EXPECT_EQ(b->added, 1);
}

TEST_F(DDLogTest, QueueChecks) {
    auto logger = std::make_shared<RecordingLogger>();
    EXPECT_FALSE(logger->isOnGlobalLoggingQueue());
    EXPECT_FALSE(logger->isOnInternalLoggerQueue());
    bool onLogging = false, onLogger = false;
    DDLog::loggingQueue()->sync([&] { onLogging = logger->isOnGlobalLoggingQueue(); });
    logger->loggerQueue()->sync([&] { onLogger = logger->isOnInternalLoggerQueue(); });
    EXPECT_TRUE(onLogging);
    EXPECT_TRUE(onLogger);
    EXPECT_EQ(DDLog::loggingQueue()->label(), "cocoa.lumberjack");
    EXPECT_EQ(logger->loggerQueue()->label(), "RecordingLogger");
    // Read on the logger's own queue: reported, and answered rather than waiting forever.
    DDLogFormatterPtr read = std::make_shared<PlainFormatter>();
    logger->loggerQueue()->sync([&] { read = logger->logFormatter(); });
    EXPECT_EQ(read, nullptr);
}

}  // namespace
}  // namespace telvo::logtest
