// The folder-descriptor mode of the rolling file logger: the folder is reached without
// following links, its missing folders are made for the owner, a folder of someone else is
// refused, and rolling, archiving and deleting old files work through the descriptor even
// after the folder's path is swapped for a link.
#include <sys/stat.h>
#include <unistd.h>
#include <regex>
#include "LoggingTestSupport.h"
#include "foundation/logging/LogFolder.h"

namespace telvo::logtest {
namespace {

class LogFolderTest : public LoggingTest {
protected:
    void SetUp() override {
        LoggingTest::SetUp();
        ASSERT_EQ(::mkdir(host("/home").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(host("/home/u").c_str(), 0755), 0);
    }
    LogFolderPtr open(const std::string& path, std::string& why) {
        return LogFolder::open(path, "/home/u", ::geteuid(), ::getegid(), why);
    }
};

TEST_F(LogFolderTest, MakesMissingFoldersAndRefusesLinksAndForeignFolders) {
    std::string why;
    LogFolderPtr folder = open("/home/u/Library/Logs/Telvo Server/InstallerHelper", why);
    ASSERT_TRUE(folder) << why;
    struct stat st;
    ASSERT_EQ(::stat(host("/home/u/Library/Logs/Telvo Server/InstallerHelper").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());

    // A link anywhere below the trusted folder is not followed.
    ASSERT_EQ(::mkdir(host("/elsewhere").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(host("/elsewhere").c_str(), host("/home/u/Planted").c_str()), 0);
    EXPECT_FALSE(open("/home/u/Planted/Logs", why));
    EXPECT_NE(why.find("/home/u/Planted"), std::string::npos) << why;
    struct stat none;
    EXPECT_NE(::stat(host("/elsewhere/Logs").c_str(), &none), 0) << "nothing is made through the link";

    // Outside the trusted folder, "..", relative paths.
    const std::vector<std::string> refused = {"/home/other/Logs", "/home/u/../other", "relative/Logs", "/home"};
    for (const std::string& path : refused) EXPECT_FALSE(open(path, why)) << path;

    if (::geteuid() == 0) {
        // A folder of another user on the way is refused.
        ASSERT_EQ(::mkdir(host("/home/u/Foreign").c_str(), 0755), 0);
        ASSERT_EQ(::chown(host("/home/u/Foreign").c_str(), 12345, 12345), 0);
        EXPECT_FALSE(LogFolder::open("/home/u/Foreign/Logs", "/home/u", 0, 0, why));
    }
}

TEST_F(LogFolderTest, TheLoggerRollsAndDeletesThroughTheDescriptor) {
    std::string why;
    LogFolderPtr folder = open("/home/u/Logs", why);
    ASSERT_TRUE(folder) << why;
    auto manager = std::make_shared<DDLogFileManagerDefault>(folder);
    auto logger = std::make_shared<DDFileLogger>(manager);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    logger->logFileManager()->setMaximumNumberOfLogFiles(2);
    logger->setMaximumFileSize(100);
    (void)logger->maximumFileSize();

    // The folder's path now leads elsewhere: the logger keeps to the folder it opened.
    ASSERT_EQ(::rename(host("/home/u/Logs").c_str(), host("/home/u/Opened").c_str()), 0);
    ASSERT_EQ(::mkdir(host("/decoy").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(host("/decoy").c_str(), host("/home/u/Logs").c_str()), 0);

    for (int i = 0; i < 40; ++i) deliver(logger, "record " + std::to_string(i) + " with text to fill lines");
    DDLog::flushLog();
    EXPECT_TRUE(listDirectory(host("/decoy")).empty());
    std::vector<std::string> names = listDirectory(host("/home/u/Opened"));
    // Two archived files and the current one.
    ASSERT_EQ(names.size(), 3u);
    std::regex nameForm(kAppName + R"( \d{4}-\d\d-\d\d \d\d-\d\d( \d+)?\.log)");
    int archived = 0;
    for (const std::string& name : names) {
        EXPECT_TRUE(std::regex_match(name, nameForm)) << name;
        if (DDLogFileInfo::logFileInFolder(folder, "/home/u/Logs/" + name)->isArchived()) ++archived;
    }
    EXPECT_EQ(archived, 2);
    EXPECT_NE(readHostFile(host("/home/u/Opened/" + manager->sortedLogFileNames().front())).find("record 39"),
              std::string::npos);
}

}  // namespace
}  // namespace telvo::logtest
