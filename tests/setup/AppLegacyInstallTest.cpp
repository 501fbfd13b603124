// The control application on the older route (the version record's older release): a real
// user's application asks real polkit for the administrator right, unloads the agent from the
// user's instance, runs its own LegacySetupTool as root through pkexec and the trampoline at
// its installed path, loads the agent again, starts the copy in "/Applications" and moves
// itself into the user's Trash five seconds later. polkit runs in this test's own mount
// namespace: tmpfs over the bus folder, the rules, the actions and "/usr/libexec", a system
// bus and polkitd of its own; the machine's own are never touched.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AppInstallFixture.h"
#include "platform/authorization/Authorization.h"
#include "support/PrivatePolkit.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

const std::string kOlderRelease = "TELVO_OS_VERSION=10.7";
const std::string kAgentJob = "/Library/LaunchAgents/com.kestro.telvoserveragent.plist";
const std::string kDaemonLabel = "com.kestro.telvoserverdaemon";

double realtimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

class AppLegacyInstallTest : public AppInstallFixture {
protected:
    void SetUp() override {
        AppInstallFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (const std::string why = PrivatePolkit::missing(true); !why.empty()) GTEST_SKIP() << why;
        // polkit answers the application, not the scripted backend.
        std::filesystem::remove(hostPath("/etc/telvo/authorization/scripted.policy"));
        PrivatePolkit::Options options;
        options.moreFolders = {"/usr/libexec"};
        options.tmpfsSize = "16m";
        std::string why;
        ASSERT_TRUE(polkit_.start(options, why)) << why;
        // The built trampoline at the place our actions name, root's.
        std::filesystem::create_directories("/usr/libexec/telvo");
        std::filesystem::copy_file(std::string(TELVO_BINARY_DIR) + "/programs/telvo-privileged-exec/telvo-privileged-exec",
                                   authorization::kTrampolinePath);
        ASSERT_EQ(::chmod(authorization::kTrampolinePath, 0755), 0);
        // What pkexec's agent helper would be looked up as (nobody is asked here anyway).
        std::error_code ignored;
        std::filesystem::create_symlink("../lib/polkit-1/polkit-agent-helper-1", "/usr/libexec/polkit-agent-helper-1", ignored);
    }
    void TearDown() override {
        polkit_.stop();
        AppInstallFixture::TearDown();
    }
    // polkit's answer for the administrator right of this test's user: "YES" or "NO".
    void rule(const char* result) {
        std::ostringstream text;
        text << PrivatePolkit::onlyAdministrator(user_) << "polkit.addRule(function(action, subject) {\n"
            << "    if (action.id == \"com.kestro.telvoserver.admin\" && subject.user == \"" << user_ << "\")\n"
            << "        return polkit.Result." << result << ";\n});\n";
        ASSERT_TRUE(polkit_.useRules(text.str())) << "polkitd did not come up";
    }
    bool agentListed() {
        return launchctl(root_, {"list"}, uid_).output.find("\t" + kAgentLabel + "\n") != std::string::npos;
    }
    double ctimeOf(const std::string& path) {
        struct stat st {};
        if (::lstat(hostPath(path).c_str(), &st) != 0) return -1;
        return double(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9;
    }
    // The realtime clock's seconds at a monotonic millisecond of the record.
    static double realtimeOfRecord(long long milliseconds) {
        timespec mono{};
        clock_gettime(CLOCK_MONOTONIC, &mono);
        const double monoNow = double(mono.tv_sec) + mono.tv_nsec / 1e9;
        return realtimeNow() - (monoNow - double(milliseconds) / 1000);
    }
    // The copy "/Applications" started after `old` quit: its pid, 0 when none started.
    pid_t relaunched(pid_t old) {
        pid_t copy = 0;
        waitUntil([&] { return (copy = otherRecording(old, "shown mainWindow")) != 0; }, 60);
        return copy;
    }

    PrivatePolkit polkit_;
};

TEST_F(AppLegacyInstallTest, UnloadsRunsTheToolLoadsRelaunchesAndTrashesTheOldCopyUnderAFreeName) {
    rule("YES");
    const std::string trash = home_ + "/.Trash";
    pid_t running = 0;
    for (const std::string name : {"Telvo Server (3.03).app", "Telvo Server (3.03) 2.app"}) {
        SCOPED_TRACE(name);
        const bool again = running != 0;
        if (again) {
            // The copy in "/Applications" runs and the agent with it: a reinstall from a new download.
            ::kill(running, SIGTERM);
            ASSERT_TRUE(waitUntil([&] { return !alive(running); }, 30));
            ASSERT_TRUE(agentListed()) << launchctl(root_, {"list"}, uid_).output << aqua_->log();
            forgetRecord();
        }
        const std::string app = makeApplication(downloads());
        script(again ? std::vector<std::string>{"actionReinstall", "installButton"} : std::vector<std::string>{"installButton"});
        helper::Client& first = launch(app, {kOlderRelease});
        const pid_t firstPid = first.pid();

        // While it installs, the user's instance is watched: the agent goes, and comes back
        // after the tool wrote its job file.
        double lastListed = -1, gone = -1, back = -1;
        siginfo_t info{};
        auto ended = [&] {
            return ::waitid(P_PID, id_t(firstPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == firstPid;
        };
        const double deadline = realtimeNow() + 120;
        while (!ended() && realtimeNow() < deadline) {
            const double before = realtimeNow();
            const bool listed = agentListed();
            if (listed && gone < 0) lastListed = before;
            if (!listed && lastListed >= 0 && gone < 0) gone = before;
            if (listed && gone >= 0 && back < 0) back = realtimeNow();
            ::usleep(10 * 1000);
        }
        EXPECT_EQ(waitExit(first, 30), 0) << recordText() << first.output();
        EXPECT_TRUE(recorded(firstPid, "pressed installButton")) << recordText();
        EXPECT_TRUE(recorded(firstPid, "quit")) << recordText();
        EXPECT_FALSE(recorded(firstPid, "shown errorPage")) << recordText() << first.output();

        // The tool ran as root: the daemon job in the system instance, the job files root's.
        EXPECT_TRUE(listed(kDaemonLabel)) << launchd_->log();
        EXPECT_EQ(statOf(kAgentJob), "644 0:0 regular file\n");
        EXPECT_EQ(statOf(kSupportFolder + "/TelvoServerDaemon"), "755 0:0 regular file\n");
        // The agent is loaded again in the user's instance.
        EXPECT_TRUE(waitUntil([&] { return agentPid() > 0; }, 60)) << launchctl(root_, {"list"}, uid_).output << aqua_->log();
        if (again) {
            // Unload, tool, load in that order: the job file was written while the agent was gone.
            ASSERT_GE(gone, 0) << "the agent was never unloaded\n" << aqua_->log();
            ASSERT_GE(back, 0) << "the agent was never loaded again\n" << aqua_->log();
            const double written = ctimeOf(kAgentJob);
            EXPECT_GT(written, lastListed) << aqua_->log();
            EXPECT_LT(written, back) << aqua_->log();
            const std::string log = aqua_->log();
            const size_t unloaded = log.rfind(kAgentLabel + ": unloaded");
            ASSERT_NE(unloaded, std::string::npos) << log;
            EXPECT_NE(log.find(kAgentLabel + ": loaded from " + kAgentJob, unloaded), std::string::npos) << log;
        }

        // The copy in "/Applications" starts.
        running = relaunched(firstPid);
        ASSERT_NE(running, 0) << recordText() << first.output();
        EXPECT_EQ(exeOf(running), hostPath(kInstalledApplication) + "/Contents/MacOS/Telvo Server");
        EXPECT_FALSE(recorded(running, "shown installPage")) << recordText();

        // Five seconds after it quit, the old copy is in the Trash (made by the user, 0700).
        const std::string trashed = trash + "/" + name;
        EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(hostPath(trashed + "/Contents/Info.plist")); }, 60))
            << shellOutput("ls -la '" + hostPath(trash) + "' 2>&1");
        EXPECT_FALSE(std::filesystem::exists(hostPath(app)));
        EXPECT_EQ(statOf(trash), "700 " + std::to_string(uid_) + ":" + std::to_string(gid_) + " directory\n");
        EXPECT_GE(ctimeOf(trashed) - realtimeOfRecord(recordedAt(firstPid, "quit")), 4.0) << recordText();
    }
}

TEST_F(AppLegacyInstallTest, AFailedStepOrARefusedRightKeepsTheApplicationOnItsErrorPages) {
    rule("YES");
    // A file where the tool makes the daemon's history folder: that step fails, the tool ends with 1.
    const std::string inTheWay = kSupportFolder + "/databases";
    std::filesystem::create_directories(hostPath(kSupportFolder));
    std::ofstream(hostPath(inTheWay)) << "in the way\n";
    const std::string app = makeApplication(downloads());
    script({"installButton"});
    helper::Client& running = launch(app, {kOlderRelease});
    const pid_t pid = running.pid();
    ASSERT_TRUE(waitRecorded(pid, "shown errorPage", 120)) << recordText() << running.output();
    EXPECT_TRUE(std::filesystem::is_regular_file(hostPath(inTheWay)));
    // The agent is loaded again all the same; the application stays, nothing else starts.
    EXPECT_TRUE(waitUntil([&] { return agentListed(); }, 30)) << aqua_->log();
    EXPECT_TRUE(alive(pid));
    EXPECT_FALSE(recorded(pid, "quit")) << recordText();
    EXPECT_EQ(recordedPids(), std::set<pid_t>{pid}) << recordText();
    EXPECT_TRUE(std::filesystem::exists(hostPath(app)));

    // Refused: the tool does not run (it would write the job files again), page 2 again.
    const double jobWritten = ctimeOf(kAgentJob);
    ASSERT_GT(jobWritten, 0);
    rule("NO");
    forgetRecord();
    script({"retryButton"});
    ASSERT_TRUE(waitRecorded(pid, "pressed retryButton")) << recordText();
    EXPECT_TRUE(waitRecorded(pid, "shown errorPage")) << recordText() << running.output();
    EXPECT_EQ(ctimeOf(kAgentJob), jobWritten);

    // Uninstall refused: page 4, everything stays.
    script({"actionUninstall", "uninstallButton"});
    EXPECT_TRUE(waitRecorded(pid, "shown uninstallFailedPage")) << recordText() << running.output();
    EXPECT_TRUE(alive(pid));
    EXPECT_TRUE(std::filesystem::exists(hostPath(kSupportFolder + "/TelvoServerDaemon")));

    // Granted: the tool's uninstall list runs, the application quits and the tree is gone.
    rule("YES");
    script({"uninstallRetryButton"});
    EXPECT_EQ(waitExit(running, 120), 0) << recordText() << running.output();
    EXPECT_FALSE(std::filesystem::exists(hostPath(kSupportFolder)));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kAgentJob)));
    EXPECT_FALSE(listed(kDaemonLabel)) << launchd_->log();
}

}  // namespace
