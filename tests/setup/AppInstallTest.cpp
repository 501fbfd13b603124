// The control application itself installs, relaunches and uninstalls, end to end in a fresh
// root under the system and user launchd instances, as a real user: the signed application
// with its own executable on the offscreen platform, its plug-in and helper, its presses given
// through the scripted-actions seam (which also records the windows and pages shown, by pid).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "AppInstallFixture.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

const std::string kInstalled = kInstalledApplication;
const std::string kSupport = kSupportFolder;

class AppInstallTest : public AppInstallFixture {};

TEST_F(AppInstallTest, FromDownloadsInstallsRelaunchesTheApplicationsCopyAndWelcomesOnce) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is needed as the TLS peer";
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(downloads());
    script({"installButton"});
    helper::Client& first = launch(app);
    const pid_t firstPid = first.pid();
    ASSERT_TRUE(waitRecorded(firstPid, "shown installPage")) << recordText();
    ASSERT_TRUE(waitRecorded(firstPid, "pressed installButton")) << recordText();
    // Shown before the press: the page over the dimmed main window.
    EXPECT_TRUE(recorded(firstPid, "shown overlayWindow")) << recordText();
    EXPECT_TRUE(recorded(firstPid, "shown mainWindow")) << recordText();
    EXPECT_TRUE(waitRecorded(firstPid, "shown installingPage", 5)) << recordText();

    // The old one quits; the copy in "/Applications" starts and welcomes the user once.
    EXPECT_EQ(waitExit(first, 120), 0) << recordText() << launchd_->log();
    EXPECT_TRUE(recorded(firstPid, "quit")) << recordText();
    pid_t second = 0;
    ASSERT_TRUE(waitUntil([&] { return (second = otherRecording(firstPid, "shown welcomeWindow")) != 0; }, 60))
        << recordText() << launchd_->log();
    EXPECT_EQ(exeOf(second), hostPath(kInstalled) + "/Contents/MacOS/Telvo Server");
    EXPECT_FALSE(recorded(second, "shown overlayWindow")) << recordText();
    // About a second after the old one quit (the relaunch waits 1 s before it starts the copy).
    EXPECT_GE(recordedAt(second, "shown mainWindow") - recordedAt(firstPid, "quit"), 950) << recordText();
    EXPECT_TRUE(welcomeShownKey());
    EXPECT_EQ(statOf(kInstalled), "755 " + std::to_string(uid_) + ":" + std::to_string(gid_) + " directory\n");

    // The background parts: the daemon answers TLS, the agent runs in the user's instance.
    expectDaemonAnswersTls();
    EXPECT_TRUE(waitUntil([&] { return agentPid() > 0; }, 60)) << launchctl(root_, {"list"}, uid_).output << aqua_->log();
    EXPECT_EQ(exeOf(pid_t(agentPid())), hostPath(kSupport + "/TelvoServerAgent.app/Contents/MacOS/TelvoServerAgent"));

    // The next launch: no welcome window.
    ::kill(second, SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return !alive(second); }, 30));
    // The about window, pressed once the launch steps are through, marks their end.
    script({"actionAbout"});
    helper::Client& third = launch(kInstalled);
    ASSERT_TRUE(waitRecorded(third.pid(), "shown aboutWindow")) << recordText();
    EXPECT_FALSE(recorded(third.pid(), "shown welcomeWindow")) << recordText();
    EXPECT_FALSE(recorded(third.pid(), "shown overlayWindow")) << recordText();

    // A newer application (its plug-in 271 over the installed agent 270) offers the install.
    ::kill(third.pid(), SIGTERM);
    EXPECT_EQ(waitExit(third, 30), 128 + SIGTERM);
    sourceBundle_ = std::string(TELVO_TEST_BUNDLE_DIR) + "/Telvo Server.app";
    const std::string newer = makeApplication(home_ + "/Downloads/Newer/Telvo Server.app");
    script({"actionAbout"});
    helper::Client& fourth = launch(newer);
    ASSERT_TRUE(waitRecorded(fourth.pid(), "shown aboutWindow")) << recordText();
    EXPECT_TRUE(recorded(fourth.pid(), "shown installPage")) << recordText();
    EXPECT_TRUE(recorded(fourth.pid(), "shown overlayWindow")) << recordText();
}

TEST_F(AppInstallTest, FromApplicationsTheCompletionPageStaysUntilDoneThenUninstallRefusedAndGranted) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(kInstalled);
    ASSERT_EQ(std::system(("chown -R " + user_ + ": '" + hostPath(kInstalled) + "'").c_str()), 0);
    script({"installButton"});
    helper::Client& running = launch(app);
    const pid_t pid = running.pid();
    ASSERT_TRUE(waitRecorded(pid, "shown donePage", 120)) << recordText() << launchd_->log();
    // Reply 1: it keeps running with the completion page until Done.
    script({"actionAbout"});
    ASSERT_TRUE(waitRecorded(pid, "shown aboutWindow")) << recordText();
    EXPECT_TRUE(alive(pid));
    EXPECT_FALSE(recorded(pid, "shown welcomeWindow")) << recordText();
    script({"doneButton"});
    EXPECT_TRUE(waitRecorded(pid, "shown welcomeWindow")) << recordText();
    EXPECT_TRUE(welcomeShownKey());
    EXPECT_TRUE(std::filesystem::exists(hostPath(kSupport + "/TelvoServerDaemon")));

    // Uninstall refused, by a new process (a right granted is kept for its process a while):
    // page 4, the application stays.
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(running, 30), 128 + SIGTERM);
    setPolicy(std::string(kBlessRight) + " deny\n");
    script({"actionUninstall", "uninstallButton"});
    helper::Client& again = launch(kInstalled);
    const pid_t againPid = again.pid();
    EXPECT_TRUE(waitRecorded(againPid, "shown uninstallFailedPage")) << recordText();
    EXPECT_TRUE(alive(againPid));
    EXPECT_TRUE(std::filesystem::exists(hostPath(kSupport)));

    // Granted: it quits and the tree is gone.
    setPolicy(std::string(kBlessRight) + " allow\n");
    script({"uninstallRetryButton"});
    EXPECT_EQ(waitExit(again, 120), 0) << recordText() << launchd_->log();
    EXPECT_FALSE(std::filesystem::exists(hostPath(kSupport)));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperProgram)));
    EXPECT_FALSE(std::filesystem::exists(hostPath("/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist")));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kInstalled)));
    EXPECT_EQ(agentPid(), 0);
}

TEST_F(AppInstallTest, RefusedRightsGiveTheErrorPageAndTheApplicationStays) {
    for (const char* answer : {"deny", "cancel"}) {
        SCOPED_TRACE(answer);
        setPolicy(std::string(kBlessRight) + " " + answer + "\n");
        const std::string app = makeApplication(downloads());
        script({"installButton"});
        helper::Client& running = launch(app);
        const pid_t pid = running.pid();
        EXPECT_TRUE(waitRecorded(pid, "shown errorPage")) << recordText();
        script({"actionAbout"});
        EXPECT_TRUE(waitRecorded(pid, "shown aboutWindow")) << recordText();
        EXPECT_TRUE(alive(pid));
        EXPECT_FALSE(std::filesystem::exists(hostPath(kInstalled)));
        ::kill(pid, SIGTERM);
        EXPECT_EQ(waitExit(running, 30), 128 + SIGTERM);
    }
}

TEST_F(AppInstallTest, ABundlePathWithABlankAQuoteAndACommandRelaunchesWithoutAShell) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    // The copy already in "/Applications" under an odd name: the install replaces it there.
    const std::string odd = "/Applications/Telvo Server it's $(touch X).app";
    const std::string app = makeApplication(downloads());
    std::filesystem::create_directories(hostPath("/Applications"));
    std::filesystem::copy(hostPath(app), hostPath(odd), std::filesystem::copy_options::recursive);
    Value info = plist::readFile(odd + "/Contents/Info.plist");
    info.set("CFBundleVersion", Value("269"));
    ASSERT_TRUE(plist::writeFile(info, odd + "/Contents/Info.plist"));
    script({"installButton"});
    helper::Client& first = launch(app);
    const pid_t firstPid = first.pid();
    EXPECT_EQ(waitExit(first, 120), 0) << recordText() << launchd_->log();
    pid_t second = 0;
    ASSERT_TRUE(waitUntil([&] { return (second = otherRecording(firstPid, "shown mainWindow")) != 0; }, 60)) << recordText();
    EXPECT_EQ(exeOf(second), hostPath(odd) + "/Contents/MacOS/Telvo Server");
    for (const std::string& folder : {hostPath(home_), hostPath(odd + "/Contents/MacOS"), hostPath("/Applications"), root_})
        EXPECT_FALSE(std::filesystem::exists(folder + "/X")) << folder;
    EXPECT_FALSE(std::filesystem::exists("X"));
}

TEST_F(AppInstallTest, ACopyThatCannotStartIsLoggedAndTheCompletionPageStays) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    // "/Applications" on a mount without execution (this test's own mount namespace): the
    // copy is made there but cannot start.
    const std::string applications = hostPath("/Applications");
    std::filesystem::create_directories(applications);
    ASSERT_EQ(::mount(applications.c_str(), applications.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{applications};
    ASSERT_EQ(::mount(nullptr, applications.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_NOEXEC, nullptr), 0) << std::strerror(errno);
    const std::string app = makeApplication(downloads());
    script({"installButton"});
    helper::Client& running = launch(app);
    EXPECT_TRUE(waitRecorded(running.pid(), "shown donePage", 120)) << recordText() << launchd_->log();
    EXPECT_TRUE(alive(running.pid()));
    EXPECT_TRUE(std::filesystem::exists(hostPath(kInstalled + "/Contents/MacOS/Telvo Server")));
    EXPECT_EQ(otherRecording(running.pid(), "shown mainWindow"), 0) << recordText();
}

TEST_F(AppInstallTest, ATamperedPluginGivesTheErrorPagesAndNothingIsLoaded) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(downloads());
    {
        // One byte of the signed module.
        std::fstream f(hostPath(app + "/Contents/Resources/SetupBundle.bundle/Contents/MacOS/SetupBundle.so"),
                       std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0x2000);
        f.put('\x5a');
    }
    script({"installButton"});
    helper::Client& running = launch(app);
    const pid_t pid = running.pid();
    EXPECT_TRUE(waitRecorded(pid, "shown errorPage")) << recordText();
    script({"actionUninstall", "uninstallButton"});
    EXPECT_TRUE(waitRecorded(pid, "shown uninstallFailedPage")) << recordText();
    EXPECT_TRUE(alive(pid));
    // Nothing was asked, blessed or installed.
    EXPECT_TRUE(prompts().empty());
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperProgram)));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kSupport)));
    // The module was never mapped into the application.
    EXPECT_EQ(shellOutput("grep -c SetupBundle.so /proc/" + std::to_string(pid) + "/maps"), "0\n");
}

TEST_F(AppInstallTest, AHelperKilledMidListGivesTheErrorPageAndTheApplicationStays) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(downloads());
    script({"installButton"});
    helper::Client& running = launch(app);
    const pid_t pid = running.pid();
    // The helper once it runs the list (its log has begun), stopped, then killed.
    std::regex listed("(^|\\n)([0-9]+)\\t-?[0-9]+\\t" + std::string(kHelperLabel) + "\\n");
    std::smatch m;
    std::string list;
    ASSERT_TRUE(waitUntil([&] {
        list = launchctl(root_, {"list"}).output;
        return std::regex_search(list, m, listed);
    }, 60)) << list << recordText();
    const pid_t helperPid = pid_t(std::stol(m[2]));
    const std::string helperLogs = hostPath(home_) + "/Library/Logs/Telvo Server/InstallerHelper";
    waitUntil([&] { return !shellOutput("cat '" + helperLogs + "'/*.log 2>/dev/null").empty() || recorded(pid, "quit"); }, 60);
    ::kill(helperPid, SIGSTOP);
    const bool midList = !waitUntil([&] { return recorded(pid, "quit") || recorded(pid, "shown donePage"); }, 2);
    ::kill(helperPid, SIGKILL);
    if (!midList) GTEST_SKIP() << "the helper ran the whole list before it could be stopped: " << recordText();
    EXPECT_TRUE(waitRecorded(pid, "shown errorPage")) << recordText() << launchd_->log();
    script({"actionAbout"});
    EXPECT_TRUE(waitRecorded(pid, "shown aboutWindow")) << recordText();
    EXPECT_TRUE(alive(pid));
    EXPECT_FALSE(recorded(pid, "quit")) << recordText();
}

}  // namespace
