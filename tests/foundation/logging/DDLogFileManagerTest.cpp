// The log directory's manager: names, the log file test, creation in one minute, the deletion
// of old archived files and the archived mark.
#include <sys/xattr.h>
#include "LoggingTestSupport.h"
#include "foundation/logging/LogDateFormatter.h"

namespace telvo::logtest {
namespace {

class DDLogFileManagerTest : public LoggingTest {
protected:
    std::shared_ptr<DDLogFileManagerDefault> manager(const std::string& dir = "/Logs") {
        return std::make_shared<DDLogFileManagerDefault>(dir);
    }
    void archive(const std::string& logicalPath) { DDLogFileInfo(logicalPath).setIsArchived(true); }
};

// 2024-03-05 07:09:00 UTC
constexpr double kMarch5 = 1709622540.0;

TEST(LogDateFormatterTest, FormatsAndParsesThePatternsOfTheLogFiles) {
    LogDateFormatter name("yyyy'-'MM'-'dd' 'HH'-'mm'", true);
    EXPECT_EQ(name.stringFromDate(kMarch5 + 59.9), "2024-03-05 07-09");
    EXPECT_EQ(name.dateFromString("2024-03-05 07-09"), kMarch5);
    for (const char* bad : {"2024-03-05 07-9", "2024-13-05 07-09", "2024-02-30 07-09", "2024-03-05 24-00",
                            "2024-03-05 07-09x", "2024/03/05 07-09", "", "abcd-03-05 07-09"}) {
        EXPECT_FALSE(name.dateFromString(bad).has_value()) << bad;
    }
    LogDateFormatter line("yyyy/MM/dd HH:mm:ss:SSS", true);
    EXPECT_EQ(line.stringFromDate(kMarch5 + 1.123), "2024/03/05 07:09:01:123");
    EXPECT_EQ(line.stringFromDate(kMarch5 + 0.5), "2024/03/05 07:09:00:500");
    LogDateFormatter quotes("HH'h''' mm", true);
    EXPECT_EQ(quotes.stringFromDate(kMarch5), "07h' 09");
}

TEST_F(DDLogFileManagerTest, LogFileTestMatchesOnlyOurNamesOfTheRightForm) {
    auto m = manager();
    EXPECT_EQ(m->applicationName(), kAppName);
    struct Case {
        std::string name;
        bool ours;
    } cases[] = {
        {kAppName + " 2024-03-05 07-09.log", true},
        {kAppName + " 2024-03-05 07-09 2.log", true},
        {kAppName + " 2024-03-05 07-09 13.log", true},
        {kAppName + " 2024-03-05 07-09 x.log", false},
        {kAppName + " 2024-03-05 07-09 2 3.log", false},
        {kAppName + " 2024-03-05 07-09.txt", false},
        {kAppName + " 2024-03-05 7-09.log", false},
        {kAppName + " 2024-03-32 07-09.log", false},
        {kAppName + "2024-03-05 07-09.log", false},
        // Another program whose name begins with ours.
        {kAppName + ".agent 2024-03-05 07-09.log", false},
        {kAppName + "agent 2024-03-05 07-09.log", false},
        {"other 2024-03-05 07-09.log", false},
    };
    for (const auto& c : cases) EXPECT_EQ(m->isLogFile(c.name), c.ours) << c.name;
}

TEST_F(DDLogFileManagerTest, NewFilesInOneMinuteGetNumbersAndTheDirectoryIsMadeOnFirstUse) {
    platform::Clock::useVirtual(kMarch5 + 30);
    auto m = manager("/Library/Logs/Telvo Server/SetupBundle");
    EXPECT_FALSE(fs::exists("/Library/Logs/Telvo Server/SetupBundle"));
    std::string base = kAppName + " 2024-03-05 07-09";
    EXPECT_EQ(m->newLogFileName(), base + ".log");
    std::vector<std::string> made;
    for (int i = 0; i < 3; ++i) made.push_back(m->createNewLogFile());
    EXPECT_EQ(made[0], "/Library/Logs/Telvo Server/SetupBundle/" + base + ".log");
    EXPECT_EQ(made[1], "/Library/Logs/Telvo Server/SetupBundle/" + base + " 2.log");
    EXPECT_EQ(made[2], "/Library/Logs/Telvo Server/SetupBundle/" + base + " 3.log");
    EXPECT_EQ(listDirectory(host("/Library/Logs/Telvo Server/SetupBundle")),
              (std::vector<std::string>{base + " 2.log", base + " 3.log", base + ".log"}));
    // Newest first.
    EXPECT_EQ(m->sortedLogFileNames(), (std::vector<std::string>{base + " 3.log", base + " 2.log", base + ".log"}));
    EXPECT_EQ(m->unsortedLogFilePaths().size(), 3u);
}

TEST_F(DDLogFileManagerTest, ChangingTheMaximumDeletesTheOldestArchivedFilesOnly) {
    platform::Clock::useVirtual(kMarch5);
    auto m = manager();
    m->setMaximumNumberOfLogFiles(0);  // keep everything while we build the directory
    DDLog::flushLog();
    std::vector<std::string> paths;
    for (int i = 0; i < 9; ++i) {
        paths.push_back(m->createNewLogFile());
        archive(paths.back());
    }
    // Files that are not ours stay, whatever their age.
    fs::createDirectories("/Logs");
    touchHostFile(host("/Logs/" + kAppName + ".agent 2024-03-05 07-09.log"));
    touchHostFile(host("/Logs/" + kAppName + " 2024-03-05 07-9.log"));
    touchHostFile(host("/Logs/notes.txt"));

    // Creating a file while 9 archived ones exist deletes the two oldest (the pass that a
    // change of the maximum queues is held back so that creation's own pass does it).
    DDLog::loggingQueue()->suspend();
    m->setMaximumNumberOfLogFiles(7);
    EXPECT_EQ(m->maximumNumberOfLogFiles(), 7u);
    std::string current = m->createNewLogFile();
    DDLog::loggingQueue()->resume();
    auto kept = m->sortedLogFilePaths();
    ASSERT_EQ(kept.size(), 8u);
    EXPECT_EQ(kept.front(), current);
    EXPECT_EQ(std::vector<std::string>(kept.begin() + 1, kept.end()),
              std::vector<std::string>(paths.rbegin(), paths.rbegin() + 7));
    EXPECT_FALSE(fs::exists(paths[0]));
    EXPECT_FALSE(fs::exists(paths[1]));
    EXPECT_EQ(listDirectory(host("/Logs")).size(), 8u + 3u);

    // A change of the maximum runs a pass on the logging queue; the unarchived newest file
    // is still not counted.
    m->setMaximumNumberOfLogFiles(3);
    DDLog::flushLog();
    kept = m->sortedLogFilePaths();
    EXPECT_EQ(kept, (std::vector<std::string>{current, paths[8], paths[7], paths[6]}));
    EXPECT_EQ(listDirectory(host("/Logs")).size(), 4u + 3u);
}

TEST_F(DDLogFileManagerTest, AManagerOfALongerNameLeavesTheShorterNamesFilesAlone) {
    platform::Clock::useVirtual(kMarch5);
    auto shorter = manager();
    shorter->setMaximumNumberOfLogFiles(1);
    std::string shortFile = shorter->createNewLogFile();
    archive(shortFile);

    platform::ProcessIdentity::setBundleIdentifier(kAppName + ".agent");
    DDLogFileManagerDefault::resetForTesting();
    auto longer = manager();
    longer->setMaximumNumberOfLogFiles(1);
    std::vector<std::string> longFiles;
    for (int i = 0; i < 3; ++i) {
        longFiles.push_back(longer->createNewLogFile());
        archive(longFiles.back());
    }
    longer->createNewLogFile();
    EXPECT_EQ(longer->sortedLogFilePaths().size(), 2u);

    // The shorter name's manager neither sees nor deletes the longer name's files.
    std::string shortCurrent = shorter->createNewLogFile();
    EXPECT_EQ(shorter->sortedLogFilePaths(), (std::vector<std::string>{shortCurrent, shortFile}));
    EXPECT_EQ(longer->sortedLogFilePaths().size(), 2u);
}

TEST_F(DDLogFileManagerTest, TheArchivedMarkIsAUserExtendedAttribute) {
    auto m = manager();
    std::string path = m->createNewLogFile();
    auto info = DDLogFileInfo::logFileWithPath(path);
    EXPECT_FALSE(info->isArchived());
    info->setIsArchived(true);
    EXPECT_GE(getxattr(host(path).c_str(), "user.lumberjack.log.archived", nullptr, 0), 0);
    EXPECT_TRUE(DDLogFileInfo(path).isArchived());
    EXPECT_TRUE(info->hasExtendedAttributeWithName("lumberjack.log.archived"));
    info->setIsArchived(false);
    EXPECT_FALSE(DDLogFileInfo(path).isArchived());
    info->setIsArchived(false);  // removing a missing mark is no failure

    info->addExtendedAttributeWithName("other.mark");
    EXPECT_TRUE(info->hasExtendedAttributeWithName("other.mark"));
    info->removeExtendedAttributeWithName("other.mark");
    EXPECT_FALSE(info->hasExtendedAttributeWithName("other.mark"));
}

TEST_F(DDLogFileManagerTest, WithoutExtendedAttributesAnArchivedFileIsReadOnly) {
    DDLogFileInfo::setExtendedAttributesUnavailableForTesting(true);
    auto m = manager();
    std::string path = m->createNewLogFile();
    DDLogFileInfo(path).setIsArchived(true);
    struct stat st {};
    ASSERT_EQ(stat(host(path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_TRUE(DDLogFileInfo(path).isArchived());  // a new description: the mark is on disk
    DDLogFileInfo(path).setIsArchived(false);
    EXPECT_FALSE(DDLogFileInfo(path).isArchived());
}

TEST_F(DDLogFileManagerTest, FileInfoDescribesAndRenames) {
    auto m = manager();
    std::string path = m->createNewLogFile();
    touchHostFile(host(path), "12345");
    DDLogFileInfo info(path);
    EXPECT_EQ(info.fileSize(), 5u);
    ASSERT_TRUE(info.creationDate().has_value());
    EXPECT_NEAR(*info.creationDate(), platform::Clock::now(), 60);
    EXPECT_EQ(info.fileAttributes()["FileSize"].intValue(), 5);
    std::string text = info.description();
    for (const char* key : {"filePath", "fileName", "fileAttributes", "creationDate", "modificationDate", "fileSize",
                            "age", "isArchived"}) {
        EXPECT_NE(text.find(key), std::string::npos) << key;
    }
    EXPECT_TRUE(info.isEqual(DDLogFileInfo(path)));

    info.renameFile("renamed.log");
    EXPECT_EQ(info.filePath(), "/Logs/renamed.log");
    EXPECT_EQ(info.fileName(), "renamed.log");
    EXPECT_TRUE(fs::exists("/Logs/renamed.log"));
    EXPECT_FALSE(fs::exists(path));

    DDLogFileInfo missing("/Logs/missing.log");
    EXPECT_FALSE(missing.creationDate().has_value());
    EXPECT_EQ(missing.fileSize(), 0u);
    EXPECT_FALSE(missing.isArchived());
    EXPECT_NE(missing.description().find("missing.log"), std::string::npos);
}

}  // namespace
}  // namespace telvo::logtest
