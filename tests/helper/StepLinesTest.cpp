// The logical line of every step, and what each step leaves behind: pass or fail by its end
// state, and the failure count.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "HelperFixture.h"
#include "helper/HelperController.h"
#include "platform/fs/Root.h"

using namespace telvo;
using namespace telvo::helper;
using namespace telvo::testing;

namespace {

class StepLinesTest : public HelperFixture {
protected:
    HelperController& helper() { return HelperController::sharedHelper(); }
    HelperCommand step(const std::string& command, ValueDictionary keys = {}) { return HelperCommand::make(command, keys); }
};

TEST_F(StepLinesTest, EveryStepLogsItsExactLineAndANormalRunCountsNoFailure) {
    if (geteuid() != 0) GTEST_SKIP() << "owner steps need root";
    const std::string support = "/Library/Application Support/Telvo Server/";
    std::filesystem::create_directories(host("/Library/Application Support"));
    std::filesystem::create_directories(host("/Applications"));
    std::filesystem::create_directories(host("/Users/tester/.Trash"));
    makeFile("/src/TelvoServerDaemon", "daemon v2", 0700);
    makeFile("/src/Old & New (1)/x", "x");
    makeFile("/src/x", "x");
    std::filesystem::create_directories(host("/opt"));
    makeFile("/Applications/Telvo Server.app/Contents/Info.plist", "app");
    makeFile("/Users/tester/.Trash/Telvo Server.app/a", "1");
    makeFile("/Users/tester/.Trash/Telvo Server (2).app/a", "2");

    struct Case {
        HelperCommand command;
        std::vector<std::string> lines;
    } cases[] = {
        {step("touch", {{"file", Value("/Library/Application Support/")}}),
         {"/usr/bin/touch /Library/Application\\ Support/"}},
        {step("mkdir", {{"file", Value(support)}, {"chown", Value("root")}, {"chmod", Value("755")}}),
         {"/bin/mkdir /Library/Application\\ Support/Telvo\\ Server/",
          "/usr/sbin/chown -R root:wheel /Library/Application\\ Support/Telvo\\ Server/",
          "/bin/chmod -R 755 /Library/Application\\ Support/Telvo\\ Server/"}},
        // Two escaped blanks.
        {step("touch", {{"file", Value(support)}}), {"/usr/bin/touch /Library/Application\\ Support/Telvo\\ Server/"}},
        // An existing folder: no mkdir line, still owner and mode.
        {step("mkdir", {{"file", Value(support)}, {"chown", Value("4242:4343")}, {"chmod", Value("750")}}),
         {"/usr/sbin/chown -R 4242:4343 /Library/Application\\ Support/Telvo\\ Server/",
          "/bin/chmod -R 750 /Library/Application\\ Support/Telvo\\ Server/"}},
        {step("copy", {{"file", Value("/src/TelvoServerDaemon")}, {"dest", Value(support + "TelvoServerDaemon")},
                       {"chown", Value("root")}, {"chmod", Value("755")}}),
         {"/bin/cp -R /src/TelvoServerDaemon /Library/Application\\ Support/Telvo\\ Server/TelvoServerDaemon",
          "/bin/chmod -R 755 /Library/Application\\ Support/Telvo\\ Server/TelvoServerDaemon",
          "/usr/sbin/chown -R root:wheel /Library/Application\\ Support/Telvo\\ Server/TelvoServerDaemon",
          "/bin/chmod -R 755 /Library/Application\\ Support/Telvo\\ Server/TelvoServerDaemon"}},
        {step("copy", {{"file", Value("/src/Old & New (1)")}, {"dest", Value("/opt/x y")}}),
         {"/bin/cp -R /src/Old\\ \\&\\ New\\ \\(1\\) /opt/x\\ y", "/bin/chmod -R 755 /opt/x\\ y"}},
        {step("remove", {{"file", Value("/opt")}}), {"/bin/rm -rf /opt"}},
        // Nothing there: nothing run, and it passes.
        {step("remove", {{"file", Value("/Library/Preferences/missing.plist")}}), {}},
        {step("unload-d", {{"file", Value("/Library/LaunchDaemons/missing.plist")}}), {}},
        {step("load-d", {{"file", Value("/Library/LaunchDaemons/missing.plist")}}), {}},
        {step("kill", {{"file", Value("No Such Program")}}), {"/usr/bin/killall No\\ Such\\ Program"}},
        {step("sleep", {{"time", Value(0.01)}}), {}},
        {step("quarantine", {{"file", Value(support)}}), {}},
        {step("system", {{"system", Value("true")}}), {"true"}},
        {step("move", {{"file", Value("/src/TelvoServerDaemon")}, {"dest", Value("/src/Moved Daemon")}}),
         {"/bin/mv -f '/src/TelvoServerDaemon' '/src/Moved Daemon'"}},
        {step("trash", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value(root_ + "/Users/tester/.Trash")}}),
         {"/bin/mv -f '/Applications/Telvo Server.app' '" + root_ + "/Users/tester/.Trash/Telvo Server (3).app'"}},
        {step("config", {{"log", Value("~/Library/Logs/Telvo Server/InstallerHelper")}}), {}},
        {step("no-such-step"), {}},
        {step("mkdir"), {}},
    };
    for (auto& c : cases) {
        size_t before = helper().lines().size();
        EXPECT_TRUE(helper().processCommand(c.command)) << c.command.dictionary().description();
        auto lines = helper().lines();
        std::vector<std::string> added(lines.begin() + long(before), lines.end());
        // The copy over an existing destination removes the old one after the rename.
        if (c.command.command() == "copy" && added.size() > c.lines.size()) {
            EXPECT_EQ(added[1].rfind("/bin/rm -rf ", 0), 0u) << added[1];
            added.erase(added.begin() + 1);
        }
        EXPECT_EQ(added, c.lines) << c.command.dictionary().description();
    }
    EXPECT_EQ(helper().failureCount(), 0);

    EXPECT_EQ(ownerOf(support), "4242:4343");
    EXPECT_EQ(modeOf(support), "750");
    EXPECT_EQ(modeOf(support + "TelvoServerDaemon"), "755");
    EXPECT_EQ(ownerOf(support + "TelvoServerDaemon"), "0:0");
    EXPECT_EQ(contents("/src/Moved Daemon"), "daemon v2");
    EXPECT_FALSE(std::filesystem::exists(host("/opt")));
    EXPECT_EQ(contents("/Users/tester/.Trash/Telvo Server (3).app/Contents/Info.plist"), "app");
    EXPECT_FALSE(std::filesystem::exists(host("/Applications/Telvo Server.app")));

    // "mkdir" makes the folders above too.
    EXPECT_TRUE(helper().processCommand(step("mkdir", {{"file", Value("/no/parent/here")}})));
    EXPECT_EQ(modeOf("/no/parent"), "755");
    EXPECT_EQ(modeOf("/no/parent/here"), "755");
    // A step whose end state is not reached is counted.
    EXPECT_FALSE(helper().processCommand(step("mkdir", {{"file", Value("/src/x/here")}})));
    EXPECT_FALSE(helper().processCommand(step("copy", {{"file", Value("/src/x")}, {"dest", Value("/src/y")},
                                                       {"chmod", Value("u+s")}})));
    EXPECT_EQ(helper().failureCount(), 2);
}

TEST_F(StepLinesTest, CopyReplacesAnApplicationWholeAndEndsWithMode755Throughout) {
    makeFile("/new/Telvo Server.app/Contents/MacOS/Telvo Server", "new", 0700);
    makeFile("/Applications/Telvo Server.app/Contents/MacOS/Telvo Server", "old");
    makeFile("/Applications/Telvo Server.app/Contents/Resources/old-only", "old");
    ASSERT_TRUE(helper().processCommand(step("copy", {{"file", Value("/new/Telvo Server.app")},
                                                      {"dest", Value("/Applications/Telvo Server.app")}})));
    EXPECT_EQ(contents("/Applications/Telvo Server.app/Contents/MacOS/Telvo Server"), "new");
    EXPECT_FALSE(std::filesystem::exists(host("/Applications/Telvo Server.app/Contents/Resources")));
    for (const char* p : {"/Applications/Telvo Server.app", "/Applications/Telvo Server.app/Contents",
                          "/Applications/Telvo Server.app/Contents/MacOS/Telvo Server"})
        EXPECT_EQ(modeOf(p), "755") << p;
    // Nothing of the temporary names is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(host("/Applications")), {}), 1);
}

TEST_F(StepLinesTest, TheReplyIsSentWhateverReplysValueAndFinishWithoutLaunchdRunsNothing) {
    int replies = 0;
    std::string answer = "unset";
    auto reply = [&](const std::string& a) {
        ++replies;
        answer = a;
    };
    helper().processMessage(HelperCommand::make("finish", {{"reply", Value(false)}, {"cleanup", Value(true)}}), reply);
    EXPECT_EQ(replies, 1);
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(helper().lines().empty());
    helper().processMessage(HelperCommand::make("touch", {{"file", Value("/t")}}), reply);
    EXPECT_EQ(replies, 1);
}

TEST_F(StepLinesTest, QuarantineRemovalUsesTheUserNamespaceAndDoesNotFollowLinks) {
    makeFile("/app/file", "x");
    makeFile("/target/file", "x");
    std::filesystem::create_symlink(host("/target/file"), host("/app/link"));
    const std::string name = fs::systemAttributeName(HelperController::kQuarantineAttribute);
    ASSERT_EQ(name, "user.com.apple.quarantine");
    if (::setxattr(host("/app/file").c_str(), name.c_str(), "q", 1, 0) != 0 ||
        ::setxattr(host("/target/file").c_str(), name.c_str(), "q", 1, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user extended attributes: " << std::strerror(errno);
    EXPECT_TRUE(helper().processCommand(step("quarantine", {{"file", Value("/app/file")}})));
    EXPECT_LT(::getxattr(host("/app/file").c_str(), name.c_str(), nullptr, 0), 0);
    // Removing it again finds none, and passes.
    EXPECT_TRUE(helper().processCommand(step("quarantine", {{"file", Value("/app/file")}})));
    helper().processCommand(step("quarantine", {{"file", Value("/app/link")}}));
    EXPECT_GE(::getxattr(host("/target/file").c_str(), name.c_str(), nullptr, 0), 0);
}

}  // namespace

namespace {

TEST_F(StepLinesTest, FinishWithCleanupAndLaunchdRemovesTheHelperAndALoadWithoutALauncherFails) {
    makeFile(HelperController::kHelperJobPath, "<plist version=\"1.0\"><dict><key>Label</key><string>h</string></dict></plist>");
    makeFile(HelperController::kHelperToolPath, "helper", 0755);
    int replies = 0;
    helper().processMessage(HelperCommand::make("finish", {{"reply", Value(true)}, {"cleanup", Value(true)},
                                                           {"launchd", Value(true)}}),
                            [&](const std::string&) { ++replies; });
    EXPECT_EQ(replies, 1);
    EXPECT_EQ(helper().lines(),
              std::vector<std::string>{"/bin/launchctl unload /Library/LaunchDaemons/com.kestro.telvoserver.installerhelper.plist;"
                                       "/bin/rm /Library/LaunchDaemons/com.kestro.telvoserver.installerhelper.plist;"
                                       "/bin/rm /Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper"});
    EXPECT_FALSE(std::filesystem::exists(host(HelperController::kHelperJobPath)));
    EXPECT_FALSE(std::filesystem::exists(host(HelperController::kHelperToolPath)));
    EXPECT_EQ(helper().failureCount(), 0);
    // No launcher answers in this root: the job is not loaded afterwards, and that is a failure.
    makeFile("/Library/LaunchDaemons/job.plist", "<plist version=\"1.0\"><dict><key>Label</key><string>j</string></dict></plist>");
    EXPECT_FALSE(helper().processCommand(HelperCommand::make("load-d", {{"file", Value("/Library/LaunchDaemons/job.plist")}})));
    EXPECT_EQ(helper().failureCount(), 1);
}

}  // namespace
