// The rolling file logger: lines, rolling by size, age, deletion and renaming, explicit rolls,
// the count of kept files and taking up a file again after a restart.
#include <regex>
#include <set>
#include "LoggingTestSupport.h"
#include "foundation/logging/DDLogFileFormatterDefault.h"
#include "platform/dispatch/MainLoop.h"

namespace telvo::logtest {
namespace {

// 2024-03-05 07:09:00 UTC
constexpr double kMarch5 = 1709622540.0;

class DDFileLoggerTest : public LoggingTest {
protected:
    std::shared_ptr<DDFileLogger> makeLogger(bool plain = true) {
        auto manager = std::make_shared<DDLogFileManagerDefault>("/Logs");
        auto logger = std::make_shared<DDFileLogger>(manager);
        if (plain) logger->setLogFormatter(std::make_shared<PlainFormatter>());
        settle(logger);
        return logger;
    }
    // Waits until every setting queued so far has reached the logger.
    void settle(const std::shared_ptr<DDFileLogger>& logger) { (void)logger->maximumFileSize(); }

    std::vector<std::string> logFiles() {
        std::vector<std::string> names;
        for (auto& name : listDirectory(host("/Logs"))) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) names.push_back(name);
        }
        return names;
    }
    std::string contents(const std::string& name) { return readHostFile(host("/Logs/" + name)); }
    bool archived(const std::string& name) { return DDLogFileInfo("/Logs/" + name).isArchived(); }
    std::string currentName() {
        auto names = std::make_shared<DDLogFileManagerDefault>("/Logs")->sortedLogFileNames();
        return names.empty() ? std::string() : names.front();
    }
};

TEST_F(DDFileLoggerTest, WritesLinesWithLocalTimeStamps) {
    auto logger = makeLogger(false);
    EXPECT_EQ(logger->loggerName(), "cocoa.lumberjack.fileLogger");
    EXPECT_EQ(logger->loggerQueue()->label(), "cocoa.lumberjack.fileLogger");
    EXPECT_EQ(logger->maximumFileSize(), 1048576u);
    EXPECT_EQ(logger->rollingFrequency(), 86400.0);
    deliver(logger, "first line");
    deliver(logger, "second line\n");
    deliver(logger, "");
    auto files = logFiles();
    ASSERT_EQ(files.size(), 1u);
    std::string text = contents(files[0]);
    std::regex form(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  first line\n)"
                    R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  second line\n)"
                    R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  \n)");
    EXPECT_TRUE(std::regex_match(text, form)) << text;

    // The time stamp is the record's, in local time.
    DDLogFileFormatterDefault formatter;
    DDLogMessage message("m", 31, 4, 0, "f", "g", 1, std::any(), 0);
    time_t t = time_t(message.timestamp());
    struct tm tm {};
    localtime_r(&t, &tm);
    char expected[64];
    std::strftime(expected, sizeof expected, "%Y/%m/%d %H:%M:%S", &tm);
    EXPECT_EQ(formatter.formatLogMessage(message)->substr(0, 19), expected);
    EXPECT_EQ(formatter.formatLogMessage(message)->substr(23), "  m");
}

TEST_F(DDFileLoggerTest, LoggingFarPastTheMaximumKeepsSevenArchivedFilesAndTheCurrentOne) {
    platform::Clock::useVirtual(kMarch5);
    auto manager = std::make_shared<DDLogFileManagerDefault>("/Library/Logs/Telvo Server/SetupBundle");
    auto logger = std::make_shared<DDFileLogger>(manager);
    // The system's setup, with a small size.
    logger->setRollingFrequency(315360000);
    logger->logFileManager()->setMaximumNumberOfLogFiles(7);
    logger->setMaximumFileSize(1000);
    DDLog::addLogger(logger);
    const int kRecords = 610;  // 15 records fill a file: the last file stays open
    for (int i = 0; i < kRecords; ++i) DDLogInfo("record %05d %s", i, "with some text to fill the line");
    DDLog::flushLog();

    std::string dir = host("/Library/Logs/Telvo Server/SetupBundle");
    auto names = listDirectory(dir);
    ASSERT_EQ(names.size(), 8u);
    std::regex nameForm(kAppName + R"( 2024-03-05 07-09( [2-9])?\.log)");
    std::set<std::string> suffixes;
    for (auto& name : names) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(name, match, nameForm)) << name;
        suffixes.insert(match[1]);
    }
    EXPECT_TRUE(suffixes.count(" 2") && suffixes.count(" 3"));

    auto sorted = manager->sortedLogFileNames();
    ASSERT_EQ(sorted.size(), 8u);
    std::regex lineForm(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  record (\d{5}) with some text to fill the line)");
    // Oldest first, every line a whole record, the records in order with none missing
    // between the first kept and the last logged.
    int expectedNext = -1;
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
        std::string text = readHostFile(dir + "/" + *it);
        bool current = it == sorted.rend() - 1;
        EXPECT_EQ(DDLogFileInfo("/Library/Logs/Telvo Server/SetupBundle/" + *it).isArchived(), !current) << *it;
        ASSERT_FALSE(text.empty());
        ASSERT_EQ(text.back(), '\n');
        std::istringstream lines(text);
        std::string line, last;
        while (std::getline(lines, line)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, lineForm)) << line;
            int number = std::stoi(match[1]);
            if (expectedNext >= 0) {
                EXPECT_EQ(number, expectedNext);
            }
            expectedNext = number + 1;
            last = line;
        }
        if (!current) {
            // Rolled by the record that reached the maximum, not before.
            EXPECT_GE(text.size(), 1000u);
            EXPECT_LT(text.size() - last.size() - 1, 1000u);
        }
    }
    EXPECT_EQ(expectedNext, kRecords);
}

TEST_F(DDFileLoggerTest, DeletingOrRenamingTheCurrentFileRollsWithoutLosingTheNextRecord) {
    for (bool rename : {false, true}) {
        SCOPED_TRACE(rename ? "renamed" : "deleted");
        ASSERT_EQ(std::system(("rm -rf '" + host("/Logs") + "'").c_str()), 0);
        platform::Clock::useVirtual(kMarch5);
        auto logger = makeLogger();
        deliver(logger, "before");
        ASSERT_EQ(logFiles().size(), 1u);
        std::string current = currentName();
        if (rename) {
            ASSERT_EQ(::rename(host("/Logs/" + current).c_str(), host("/Logs/moved.txt").c_str()), 0);
        } else {
            ASSERT_EQ(::unlink(host("/Logs/" + current).c_str()), 0);
        }
        deliver(logger, "after");
        // A new file (its name may be the old one's, which is free again).
        std::string newest = currentName();
        EXPECT_EQ(contents(newest), "after\n");
        if (rename) {
            EXPECT_EQ(readHostFile(host("/Logs/moved.txt")), "before\n");
        }
        deliver(logger, "later");
        EXPECT_EQ(contents(newest), "after\nlater\n");
    }
}

// Tells what the logger reports to its manager.
class WatchedManager : public DDLogFileManagerDefault {
public:
    using DDLogFileManagerDefault::DDLogFileManagerDefault;
    void didArchiveLogFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        archivedAtStart.push_back(path);
    }
    void didRollAndArchiveLogFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        rolled.push_back(path);
    }
    size_t rolledCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return rolled.size();
    }
    std::mutex mutex;
    std::vector<std::string> archivedAtStart, rolled;
};

TEST_F(DDFileLoggerTest, ADeletionWhileIdleRollsAtOnce) {
    platform::Clock::useVirtual(kMarch5);
    auto manager = std::make_shared<WatchedManager>("/Logs");
    auto logger = std::make_shared<DDFileLogger>(manager);
    deliver(logger, "only");
    std::string path = "/Logs/" + kAppName + " 2024-03-05 07-09.log";
    ASSERT_TRUE(fs::exists(path));
    ASSERT_EQ(::unlink(host(path).c_str()), 0);
    EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return manager->rolledCount() == 1; }, 10))
        << "the deletion was not noticed without a further record";
    EXPECT_EQ(manager->rolled, std::vector<std::string>{path});
    EXPECT_TRUE(manager->archivedAtStart.empty());

    // A newest file over the limit at start is archived and reported as such.
    touchHostFile(host("/Logs/" + kAppName + " 2024-03-05 07-08.log"), std::string(2000, 'x'));
    auto restartedManager = std::make_shared<WatchedManager>("/Logs");
    auto restarted = std::make_shared<DDFileLogger>(restartedManager);
    restarted->setMaximumFileSize(1000);
    settle(restarted);
    deliver(restarted, "new");
    EXPECT_EQ(restartedManager->archivedAtStart,
              std::vector<std::string>{"/Logs/" + kAppName + " 2024-03-05 07-08.log"});
}

TEST_F(DDFileLoggerTest, ARestartContinuesTheUnarchivedNewestFileWithinTheLimits) {
    {
        auto logger = makeLogger();
        deliver(logger, "first run");
    }  // the process ends without removing its logger
    {
        auto logger = makeLogger();
        deliver(logger, "second run");
    }
    auto files = logFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(contents(files[0]), "first run\nsecond run\n");
    EXPECT_FALSE(archived(files[0]));

    // Over the size limit at the restart: archived, and a new file is made.
    platform::Clock::useVirtual(kMarch5);
    auto logger = makeLogger();
    logger->setMaximumFileSize(15);
    settle(logger);
    deliver(logger, "third run");
    files = logFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(archived(files[0]) != archived(files[1]));
    EXPECT_EQ(contents(kAppName + " 2024-03-05 07-09.log"), "third run\n");
}

TEST_F(DDFileLoggerTest, RollsByAgeOnTheVirtualClock) {
    platform::Clock::useVirtual(platform::Clock::now());
    std::vector<std::string> files;
    {
        auto logger = makeLogger();
        logger->setRollingFrequency(60);
        settle(logger);
        deliver(logger, "young");
        files = logFiles();
        ASSERT_EQ(files.size(), 1u);
        dispatch::MainLoop::runFor(30);
        EXPECT_FALSE(archived(files[0]));
        dispatch::MainLoop::runFor(31);
        logger->loggerQueue()->sync([] {});
        EXPECT_TRUE(archived(files[0])) << "the age timer did not roll the file";
        platform::Clock::advance(60);  // the next file is named for a later minute
        deliver(logger, "next");
        files = logFiles();
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(contents(files[1]), "next\n");
    }
    // A file found too old at start is archived and not written to.
    {
        platform::Clock::advance(61);
        auto restarted = makeLogger();
        restarted->setRollingFrequency(60);
        settle(restarted);
        deliver(restarted, "fresh");
    }
    files = logFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(contents(files[2]), "fresh\n");
    EXPECT_TRUE(archived(files[1]));
}

TEST_F(DDFileLoggerTest, ExplicitRollsAndRemovalArchiveTheCurrentFile) {
    platform::Clock::useVirtual(kMarch5);
    auto logger = makeLogger();
    DDLog::addLogger(logger);
    DDLogInfo("one");
    bool done = false;
    logger->rollLogFileWithCompletionBlock([&] { done = true; });
    EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return done; }, 10));
    std::string first = kAppName + " 2024-03-05 07-09.log";
    EXPECT_TRUE(archived(first));
    DDLogInfo("two");
    DDLog::removeLogger(logger);  // as the helper's "finish" does
    DDLog::flushLog();
    logger->loggerQueue()->sync([] {});
    std::string second = kAppName + " 2024-03-05 07-09 2.log";
    EXPECT_EQ(contents(second), "two\n");
    EXPECT_TRUE(archived(second));
    // The next run starts a new file.
    auto next = makeLogger();
    deliver(next, "three");
    EXPECT_EQ(contents(kAppName + " 2024-03-05 07-09 3.log"), "three\n");
}

TEST_F(DDFileLoggerTest, ASizeChangeAppliesToTheRecordsQueuedAfterIt) {
    platform::Clock::useVirtual(kMarch5);
    auto logger = makeLogger();
    DDLog::addLogger(logger);
    DDLogInfo("a");
    logger->setMaximumFileSize(1);  // the current file is over it at once
    DDLogInfo("b");
    DDLog::flushLog();
    EXPECT_EQ(contents(kAppName + " 2024-03-05 07-09.log"), "a\n");
    EXPECT_EQ(contents(kAppName + " 2024-03-05 07-09 2.log"), "b\n");
    EXPECT_TRUE(archived(kAppName + " 2024-03-05 07-09 2.log"));
    EXPECT_EQ(logger->maximumFileSize(), 1u);
}

TEST_F(DDFileLoggerTest, RecordsFollowOnceTheDirectoryCanBeMade) {
    touchHostFile(host("/Logs"), "in the way");
    auto logger = makeLogger();
    deliver(logger, "lost");  // reported on standard error
    ASSERT_EQ(::unlink(host("/Logs").c_str()), 0);
    deliver(logger, "kept");
    auto files = logFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(contents(files[0]), "kept\n");
}

TEST_F(DDFileLoggerTest, WithoutExtendedAttributesTheReadOnlyMarkKeepsARolledFileClosed) {
    DDLogFileInfo::setExtendedAttributesUnavailableForTesting(true);
    platform::Clock::useVirtual(kMarch5);
    {
        auto logger = makeLogger();
        deliver(logger, "one");
        logger->loggerQueue()->sync([&] { logger->rollLogFile(); });
    }
    auto next = makeLogger();
    deliver(next, "two");
    EXPECT_EQ(contents(kAppName + " 2024-03-05 07-09.log"), "one\n");
    EXPECT_EQ(contents(kAppName + " 2024-03-05 07-09 2.log"), "two\n");
    EXPECT_TRUE(archived(kAppName + " 2024-03-05 07-09.log"));
    EXPECT_FALSE(archived(kAppName + " 2024-03-05 07-09 2.log"));
}

}  // namespace
}  // namespace telvo::logtest
