// The whole update as a real user runs it: a fresh file-system root whose "/Applications" holds
// "Telvo Server.app" 3.03 (270) with our driver as its program, run as a `useradd -m` user. It
// checks, downloads and installs the signed 3.04 (271), whose program is a probe that records
// its start, and quits; the probe starts about a second later. With "/Applications" root's,
// the same runs through real polkit in a private mount namespace
// (tests/platform/authorization/polkit-namespace.sh).
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "UpdateWindowsFixture.h"
#include "codesign/TestPki.h"
#include "platform/values/PropertyList.h"
#include "support/CommandOutput.h"
#include "update/HostFiles.h"

namespace telvo::app::testing {
namespace {

using telvo::testing::commandOutput;
using telvo::testing::run;
using update::test::readText;

double valueAfter(const std::string& text, const std::string& word) {
    const size_t at = text.find(word + " ");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + word.size() + 1);
}

class InstallProcessTest : public UpdateWindowsTest {
protected:
    void SetUp() override {
        UpdateWindowsTest::SetUp();
        if (IsSkipped()) return;
        if (geteuid() != 0) GTEST_SKIP() << "needs root: it adds a test user (useradd -m)";
        for (const char* tool : {"useradd", "userdel", "setpriv"})
            if (run(std::string("command -v ") + tool + " >/dev/null") != 0) GTEST_SKIP() << tool << " is missing";
        user = "tvupd" + std::to_string(getpid());
        if (run("useradd -m -s /bin/sh " + user + " >/dev/null 2>&1") != 0) GTEST_SKIP() << "cannot add a test user";
        added = true;
        uid = std::to_string(std::strtol(commandOutput("id -u " + user, status).c_str(), nullptr, 10));
        home = "/home/" + user;
        // The installed application: our driver as its program, the user's.
        ASSERT_EQ(run("cp '" TELVO_INSTALL_DRIVER "' '" + bundlePath + "/Contents/MacOS/Telvo Server'"), 0);
        records = root + "/records";
        // The user's temporary folder lies inside the root, where signatures are read.
        ASSERT_EQ(run("mkdir -p '" + records + "' '" + root + "/tmp/" + user + "' && chown " + user + " '" + records +
                      "' '" + root + "/tmp/" + user + "' && chmod 700 '" + root + "/tmp/" + user + "' && chmod 755 '" + root + "/tmp' && cp '" + server->caFile() +
                      "' '" + root + "/ca.pem' && chmod 644 '" + root + "/ca.pem'"),
                  0);
        url = servePayload();
        answer({"<b version=\"3.04\" build=\"271\" url=\"" + url + "\"/>"});
    }
    void TearDown() override {
        if (added) run("userdel -r -f " + user + " >/dev/null 2>&1");
        UpdateWindowsTest::TearDown();
    }
    // The driver's command line as the user, with a small environment of its own.
    std::string driverCommand(const std::string& extra = "") const {
        return "setpriv --reuid=" + user + " --regid=" + user + " --init-groups env -i HOME=" + home +
               " PATH=/usr/bin:/bin TELVO_ROOT='" + root + "' TMPDIR='" + root + "/tmp/" + user + "' TELVO_PROBE_RECORD='" + records +
               "/probe.log' '" + bundlePath + "/Contents/MacOS/Telvo Server' --feed '" + server->url(kFeedPath) +
               "' --ca '" + root + "/ca.pem' --record '" + records + "/driver.log'" + extra;
    }
    int64_t installedBuild() const {
        return plist::readFile(bundlePath + "/Contents/Info.plist")["CFBundleVersion"].intValue();
    }

    std::string user, uid, home, records, url;
    bool added = false;
    int status = 0;
};

TEST_F(InstallProcessTest, TheUserInstallsRelaunchesAndQuits) {
    ASSERT_EQ(run("chown -R " + user + " '" + root + "/Applications'"), 0);
    const std::string out = commandOutput("timeout 180 " + driverCommand() + " 2>&1", status);
    const std::string driver = readText(records + "/driver.log");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << driver << out;
    EXPECT_NE(driver.find("exit 0"), std::string::npos) << driver;
    const double quit = valueAfter(driver, "quit");
    ASSERT_GT(quit, 0) << driver;
    // The driver is gone; the new copy's program starts about a second after the quit.
    ASSERT_TRUE(waitFor([&] { return readText(records + "/probe.log").find("started") != std::string::npos; }, 30));
    const std::string probe = readText(records + "/probe.log");
    const double started = valueAfter(probe, "started");
    EXPECT_GE(started - quit, 0.8) << probe << driver;
    EXPECT_LT(started - quit, 30) << probe << driver;
    EXPECT_NE(probe.find("uid=" + uid + " "), std::string::npos) << probe;
    EXPECT_NE(probe.find("exe=" + bundlePath + "/Contents/MacOS/Telvo Server"), std::string::npos) << probe;
    EXPECT_EQ(installedBuild(), 271);
    EXPECT_EQ(update::readHostPropertyList(home + "/.Trash/Telvo Server (270).app/Contents/Info.plist")["CFBundleVersion"].intValue(),
              270);
}

TEST_F(InstallProcessTest, WithARootsApplicationsFolderPolkitDecides) {
    int unshareStatus = 0;
    commandOutput("unshare -m true 2>&1", unshareStatus);
    if (unshareStatus != 0) GTEST_SKIP() << "cannot make a mount namespace here (unshare -m)";
    // "/Applications" is root's: the copy needs the administrator; the old copy is root's too.
    ASSERT_EQ(run("chown -R root:root '" + root + "/Applications' && chmod 755 '" + root + "/Applications'"), 0);
    ASSERT_EQ(run("mkdir -p '" + root + "/bin' && cp '" TELVO_TRAMPOLINE "' '" + root +
                  "/bin/telvo-privileged-exec' && chmod 755 '" + root + "/bin' '" + root + "/bin/telvo-privileged-exec'"),
              0);
    const std::string command = "unshare -m bash '" TELVO_SOURCE_DIR "/tests/platform/authorization/polkit-namespace.sh' --driver " +
                                user + " '" + root + "/bin/telvo-privileged-exec' '" TELVO_SOURCE_DIR
                                "/programs/telvo-privileged-exec/com.kestro.telvoserver.policy' '" + records + "' '" + bundlePath +
                                "/Contents/Info.plist' " +
                                driverCommand(" --trampoline '" + root + "/bin/telvo-privileged-exec'") + " 2>&1";
    const std::string out = commandOutput(command, status);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << out;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    // NO first: an alert, nothing copied, no relaunch, the application did not quit.
    EXPECT_NE(out.find("no.exit=3"), std::string::npos) << out;
    EXPECT_NE(out.find("no.driver=alert Update Error! | An error occurred while downloading the update."),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("no.driver=quit"), std::string::npos) << out;
    EXPECT_NE(out.find("no.build=270"), std::string::npos) << out;
    EXPECT_NE(out.find("no.probe=\n"), std::string::npos) << out;
    // YES: moved into place as root, started a second after the quit.
    EXPECT_NE(out.find("yes.exit=0"), std::string::npos) << out;
    EXPECT_NE(out.find("yes.build=271"), std::string::npos) << out;
    ASSERT_TRUE(waitFor([&] { return readText(records + "/probe.log").find("started") != std::string::npos; }, 30));
    const std::string driver = readText(records + "/driver.log");
    const std::string probe = readText(records + "/probe.log");
    const double quit = valueAfter(driver, "quit");
    const double started = valueAfter(probe, "started");
    EXPECT_GE(started - quit, 0.8) << probe << driver;
    EXPECT_LT(started - quit, 30) << probe << driver;
    EXPECT_NE(probe.find("uid=" + uid + " "), std::string::npos) << probe;
    EXPECT_EQ(installedBuild(), 271);
    // The old copy went to the user's Trash as root.
    EXPECT_EQ(update::readHostPropertyList(home + "/.Trash/Telvo Server.app/Contents/Info.plist")["CFBundleVersion"].intValue(), 270);
}

}  // namespace
}  // namespace telvo::app::testing
