// Paths reach the tools as they are (no shell ever sees them), a copy that cannot work leaves
// the installed one in place, and owner and mode steps never follow a symbolic link.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>

#include "HelperFixture.h"
#include "helper/HelperController.h"
#include "helper/ProcessMatch.h"
#include "platform/fs/Root.h"

using namespace telvo;
using namespace telvo::helper;
using namespace telvo::testing;

namespace {

class CopySafetyTest : public HelperFixture {
protected:
    HelperController& helper() { return HelperController::sharedHelper(); }
    bool run(const std::string& command, ValueDictionary keys) {
        return helper().processCommand(HelperCommand::make(command, keys));
    }
};

TEST_F(CopySafetyTest, HostileFolderNamesAreCopiedMovedAndTrashedLiterally) {
    const std::string work = root_ + "/cwd";
    std::filesystem::create_directories(work);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(work.c_str()), 0);
    const std::vector<std::string> names{"$(touch X)", "`touch X`", ";touch X;", "a'b", "a\"b", "line\nbreak", "&& touch X"};
    std::string folder = "/Volumes";
    for (const auto& n : names) folder += "/" + n;
    makeFile(folder + "/Telvo Server.app/Contents/Info.plist", "hostile");
    std::filesystem::create_directories(host("/Applications"));
    EXPECT_TRUE(run("copy", {{"file", Value(folder + "/Telvo Server.app")}, {"dest", Value("/Applications/Telvo Server.app")},
                             {"chmod", Value("755")}}));
    EXPECT_EQ(contents("/Applications/Telvo Server.app/Contents/Info.plist"), "hostile");
    EXPECT_TRUE(run("copy", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value(folder + "/copy back")}}));
    EXPECT_TRUE(run("touch", {{"file", Value(folder + "/touched")}}));
    EXPECT_TRUE(run("mkdir", {{"file", Value(folder + "/made (1)")}, {"chmod", Value("700")}}));
    EXPECT_EQ(modeOf(folder + "/made (1)"), "700");
    EXPECT_TRUE(run("move", {{"file", Value(folder + "/touched")}, {"dest", Value(folder + "/moved 'quoted'")}}));
    EXPECT_TRUE(std::filesystem::exists(host(folder + "/moved 'quoted'")));
    std::filesystem::create_directories(host(folder + "/.Trash"));
    EXPECT_TRUE(run("trash", {{"file", Value(folder + "/copy back")}, {"dest", Value(folder + "/.Trash")}}));
    EXPECT_EQ(contents(folder + "/.Trash/copy back/Contents/Info.plist"), "hostile");
    EXPECT_TRUE(run("remove", {{"file", Value(folder + "/.Trash")}}));
    EXPECT_EQ(helper().failureCount(), 0);
    // Nothing ran the names as commands: no X anywhere.
    int found = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root_))
        if (e.path().filename() == "X") ++found;
    EXPECT_EQ(found, 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(saved) / "X"));
    ASSERT_EQ(chdir(saved), 0);
}

TEST_F(CopySafetyTest, AMissingSourceLeavesTheInstalledDaemonAndApplicationInPlace) {
    const std::string daemon = "/Library/Application Support/Telvo Server/TelvoServerDaemon";
    makeFile(daemon, "installed daemon", 0755);
    makeFile("/Applications/Telvo Server.app/Contents/Info.plist", "installed app");
    EXPECT_FALSE(run("copy", {{"file", Value("/gone/TelvoServerDaemon")}, {"dest", Value(daemon)},
                              {"chown", Value("root")}, {"chmod", Value("755")}}));
    EXPECT_FALSE(run("copy", {{"file", Value("/gone/Telvo Server.app")}, {"dest", Value("/Applications/Telvo Server.app")}}));
    EXPECT_EQ(helper().failureCount(), 2);
    EXPECT_EQ(contents(daemon), "installed daemon");
    EXPECT_EQ(contents("/Applications/Telvo Server.app/Contents/Info.plist"), "installed app");
    // No temporary copy is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(host("/Applications")), {}), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(host("/Library/Application Support/Telvo Server")), {}), 1);
}

TEST_F(CopySafetyTest, OwnerAndModeStepsNeverFollowASymbolicLink) {
    if (geteuid() != 0) GTEST_SKIP() << "owner steps need root";
    // What a link points at: a private folder of someone else, outside what is installed.
    makeFile("/victim/secret", "s", 0600);
    ::chmod(host("/victim").c_str(), 0700);
    ASSERT_EQ(::chown(host("/victim").c_str(), 4242, 4242), 0);
    auto victimUnchanged = [&] {
        return modeOf("/victim") == "700" && ownerOf("/victim") == "4242:4242" && modeOf("/victim/secret") == "600" &&
               ownerOf("/victim/secret") == "0:0";
    };
    // A link at the destination is replaced, never followed.
    makeFile("/src/TelvoServerDaemon", "daemon");
    std::filesystem::create_directories(host("/Library/Application Support/Telvo Server"));
    const std::string dest = "/Library/Application Support/Telvo Server/TelvoServerDaemon";
    std::filesystem::create_symlink(host("/victim"), host(dest));
    EXPECT_TRUE(run("copy", {{"file", Value("/src/TelvoServerDaemon")}, {"dest", Value(dest)}, {"chown", Value("root")},
                             {"chmod", Value("755")}}));
    EXPECT_FALSE(std::filesystem::is_symlink(host(dest)));
    EXPECT_EQ(contents(dest), "daemon");
    EXPECT_TRUE(victimUnchanged());
    // A link as the source is not copied: the step fails, the destination stays as it was.
    std::filesystem::create_symlink(host("/victim"), host("/src/link"));
    std::filesystem::create_directories(host("/Applications"));
    EXPECT_FALSE(run("copy", {{"file", Value("/src/link")}, {"dest", Value("/Applications/Telvo Server.app")},
                              {"chown", Value("1000:1000")}, {"chmod", Value("777")}}));
    EXPECT_FALSE(std::filesystem::exists(host("/Applications/Telvo Server.app")));
    EXPECT_TRUE(victimUnchanged());
    // Owner and mode steps on a link, or on a path through one, leave its target alone.
    std::filesystem::create_symlink(host("/victim"), host("/Applications/link"));
    EXPECT_TRUE(helper().chown("/Applications/link", "1000:1000"));
    EXPECT_EQ(ownerOf("/Applications/link"), "1000:1000");
    EXPECT_TRUE(helper().chmod("/Applications/link", "777"));
    EXPECT_FALSE(helper().chmod("/Applications/link/secret", "777"));
    EXPECT_FALSE(helper().chownRoot("/Applications/link/secret"));
    EXPECT_TRUE(victimUnchanged());
    // "mkdir" of a path that is a link: owner and mode stay off its target.
    std::filesystem::create_symlink(host("/victim"), host("/Library/Application Support/Telvo Server/databases"));
    run("mkdir", {{"file", Value("/Library/Application Support/Telvo Server/databases/")}, {"chown", Value("root")},
                  {"chmod", Value("755")}});
    EXPECT_TRUE(victimUnchanged());
}

TEST_F(CopySafetyTest, KillStopsTheProgramOfThatNameInsideTheRootEvenWhenItWasReplaced) {
    // The same program under that name inside the root and outside it.
    const std::string inside = host("/Library/Application Support/Telvo Server/TelvoServerDaemon");
    char pattern[] = "/tmp/telvo-helper-outside-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string outside = std::string(pattern) + "/TelvoServerDaemon";
    std::filesystem::create_directories(std::filesystem::path(inside).parent_path());
    std::filesystem::copy_file("/bin/sleep", inside);
    std::filesystem::copy_file("/bin/sleep", outside);
    auto start = [](const std::string& program) {
        pid_t pid = -1;
        std::string arg = "60";
        char* argv[] = {const_cast<char*>(program.c_str()), arg.data(), nullptr};
        char* envp[] = {nullptr};
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp), 0);
        return pid;
    };
    pid_t in = start(inside), out = start(outside);
    // Replaced while it runs: /proc shows " (deleted)".
    std::filesystem::remove(inside);
    std::filesystem::copy_file("/bin/true", inside);
    bool seen = false;
    for (int i = 0; i < 500 && !seen; ++i) {
        auto pids = processesNamed("TelvoServerDaemon");
        seen = std::find(pids.begin(), pids.end(), in) != pids.end();
        if (!seen) usleep(10000);
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(run("kill", {{"file", Value("TelvoServerDaemon")}}));
    int status = 0;
    EXPECT_EQ(waitpid(in, &status, 0), in);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(waitpid(out, &status, WNOHANG), 0) << "a program outside the root was stopped";
    ::kill(out, SIGKILL);
    waitpid(out, &status, 0);
    std::filesystem::remove_all(pattern);
}

}  // namespace
