// End to end, as root in a fresh file-system root: the assembled bundle's LegacySetupTool run
// with administrator rights (scripted authorization) installs the daemon, which the system
// launcher starts and which answers TLS on its default port; "uninstall" stops it and removes
// everything but the application.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "HelperFixture.h"
#include "support/FreshInstallRoot.h"
#include "platform/authorization/Authorization.h"
#include "platform/authorization/ScriptedBackend.h"
#include "platform/fs/Root.h"
#include "platform/launchd/LaunchdProcess.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using namespace telvo::testing;
namespace authz = telvo::authorization;

namespace {

const std::string kBundle = std::string(TELVO_BUNDLE_DIR) + "/Telvo Server.app";
const std::string kSupport = "/Library/Application Support/Telvo Server";
const std::string kDaemonJob = "/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist";
const std::string kAgentJob = "/Library/LaunchAgents/com.kestro.telvoserveragent.plist";
const std::string kPreferences = "/Library/Preferences/com.kestro.telvoserverbackend.plist";

std::string run(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (pipe) pclose(pipe);
    return out;
}


class LegacySetupToolTest : public HelperFixture {
protected:
    void TearDown() override {
        authz::setTrampolineForTesting("");
        HelperFixture::TearDown();
    }
    // `stat` of a logical path: "mode uid:gid type".
    std::string statOf(const std::string& path) {
        return run("stat -c '%a %u:%g %F' '" + host(path) + "' 2>&1");
    }
    int runTool(const std::string& tool, const std::vector<std::string>& args) {
        authz::AuthorizationRef ref = nullptr;
        EXPECT_EQ(authz::AuthorizationCreate(nullptr, authz::kAuthorizationFlagDefaults, &ref), authz::errAuthorizationSuccess);
        int status = -1;
        EXPECT_EQ(authz::AuthorizationExecuteWithPrivilegesAndWait(ref, tool, args, &status), authz::errAuthorizationSuccess);
        authz::AuthorizationFree(ref, authz::kAuthorizationFlagDefaults);
        return status;
    }
};

TEST_F(LegacySetupToolTest, InstallsWithAdministratorRightsServesTLSAndUninstallsAllButTheApplication) {
    if (geteuid() != 0) GTEST_SKIP() << "the install runs as root under the system launcher";
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is needed as the TLS peer";
    ASSERT_TRUE(std::filesystem::exists(kBundle + "/Contents/Resources/LegacySetupTool")) << kBundle;

    // The bundle inside the root, under a folder outside "/Applications".
    const std::string from = "/Users/tester/Downloads/Telvo Server.app";
    std::filesystem::create_directories(host("/Users/tester/Downloads"));
    ASSERT_EQ(std::system(("cp -a '" + kBundle + "' '" + host(from) + "'").c_str()), 0);
    // Nothing of "/Library" or "/Applications" is there: the install makes what it needs. The
    // daemon serves on its default port, in a network namespace of this test with only
    // loopback, and finds no system bus to publish on.
    ASSERT_FALSE(std::filesystem::exists(host("/Library")));
    ASSERT_FALSE(std::filesystem::exists(host("/Applications")));
    std::string why;
    if (!enterPrivateNetworkAndBus(why)) GTEST_SKIP() << why;
    const uint16_t port = 5109;
    // The user allows the tool's run with administrator rights.
    std::filesystem::create_directories(host("/etc/telvo/authorization"));
    makeFile(authz::scripted::kPolicyPath, std::string(authz::kAuthorizationRightExecute) + " allow\n", 0644);
    authz::setTrampolineForTesting(std::string(TELVO_BINARY_DIR) + "/programs/telvo-privileged-exec/telvo-privileged-exec");

    LaunchdProcess launchd(root_, 0, {}, {"TELVO_NETSTATE_FILE=/nonexistent"});
    ASSERT_TRUE(launchd.start()) << launchd.log();

    const std::string tool = host(from + "/Contents/Resources/LegacySetupTool");
    ASSERT_EQ(runTool(tool, {}), 0) << launchd.log();

    struct Expected {
        std::string path, stat;
    } tree[] = {
        {"/Library/Application Support", "755 0:0 directory"},
        {kSupport, "755 0:0 directory"},
        {kSupport + "/databases", "755 0:0 directory"},
        {kSupport + "/TelvoServerDaemon", "755 0:0 regular file"},
        {kSupport + "/TelvoServerAgent.app", "755 0:0 directory"},
        {kSupport + "/TelvoServerAgent.app/Contents/Info.plist", "755 0:0 regular file"},
        {kDaemonJob, "644 0:0 regular file"},
        {kAgentJob, "644 0:0 regular file"},
        {"/Applications", "755 0:0 directory"},
        {"/Applications/Telvo Server.app", "755 0:0 directory"},
        {"/Applications/Telvo Server.app/Contents/Resources/LegacySetupTool", "755 0:0 regular file"},
        // Files without an execute bit keep their own mode.
        {"/Applications/Telvo Server.app/Contents/Resources/SetupBundle.bundle/Contents/Info.plist",
         "644 0:0 regular file"},
    };
    for (const auto& e : tree) EXPECT_EQ(statOf(e.path), e.stat + "\n") << e.path;
    EXPECT_TRUE(std::filesystem::exists(host(from))) << "the bundle it ran from stays";

    CommandResult list = launchctl(root_, {"list"});
    EXPECT_NE(list.output.find("com.kestro.telvoserverdaemon"), std::string::npos) << list.output;
    const std::string ready = ": Waiting for connections on port " + std::to_string(port) + ".\n";
    auto daemonLog = [&] { return readHostFile(host("/Library/Logs/TelvoServer.log")); };
    ASSERT_TRUE(waitUntil([&] { return daemonLog().find(ready) != std::string::npos; }, 30)) << daemonLog() << launchd.log();
    std::string tls = run("echo | timeout 20 openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " 2>&1");
    EXPECT_NE(tls.find("-----BEGIN CERTIFICATE-----"), std::string::npos) << tls;
    EXPECT_TRUE(std::regex_search(tls, std::regex("Cipher is [A-Z]"))) << tls;

    // Installing again over the running daemon: its job is unloaded (the daemon stops with
    // status 0), every file replaced (the older application too), and the new daemon serves
    // again.
    makeFile("/Applications/Telvo Server.app/Contents/old-only", "old");
    ASSERT_EQ(runTool(tool, {}), 0) << launchd.log();
    EXPECT_FALSE(std::filesystem::exists(host("/Applications/Telvo Server.app/Contents/old-only")));
    EXPECT_TRUE(launchd.logged("com.kestro.telvoserverdaemon: exited with status 0")) << launchd.log();
    auto readyCount = [&] {
        std::string log = daemonLog();
        size_t count = 0;
        for (size_t at = log.find(ready); at != std::string::npos; at = log.find(ready, at + 1)) ++count;
        return count;
    };
    ASSERT_TRUE(waitUntil([&] { return readyCount() >= 2; }, 30)) << daemonLog() << launchd.log();
    tls = run("echo | timeout 20 openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " 2>&1");
    EXPECT_NE(tls.find("-----BEGIN CERTIFICATE-----"), std::string::npos) << tls;

    // Uninstall from the installed application.
    ASSERT_EQ(runTool(host("/Applications/Telvo Server.app/Contents/Resources/LegacySetupTool"), {"uninstall"}), 0)
        << launchd.log();
    auto stops = [&] {
        std::string log = launchd.log();
        size_t count = 0;
        const std::string stopped = "com.kestro.telvoserverdaemon: exited with status 0";
        for (size_t at = log.find(stopped); at != std::string::npos; at = log.find(stopped, at + 1)) ++count;
        return count;
    };
    EXPECT_EQ(stops(), 2u) << launchd.log();
    list = launchctl(root_, {"list"});
    EXPECT_EQ(list.output.find("com.kestro.telvoserverdaemon"), std::string::npos) << list.output;
    for (const std::string& gone : {kSupport, kDaemonJob, kAgentJob, kPreferences})
        EXPECT_FALSE(std::filesystem::exists(host(gone))) << gone;
    for (const char* kept : {"/Library/Application Support", "/Library/LaunchDaemons", "/Library/LaunchAgents",
                                    "/Applications/Telvo Server.app/Contents/Info.plist"})
        EXPECT_TRUE(std::filesystem::exists(host(kept))) << kept;
    EXPECT_EQ(launchd.stop(), 0);
}

TEST_F(LegacySetupToolTest, RefusesToRunFromOutsideTheFileSystemRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "the tool is run as root";
    ASSERT_TRUE(std::filesystem::exists(kBundle + "/Contents/Resources/LegacySetupTool")) << kBundle;
    std::string out = run("TELVO_ROOT='" + root_ + "' '" + kBundle + "/Contents/Resources/LegacySetupTool' 2>&1; echo status=$?");
    EXPECT_NE(out.find("outside the file-system root"), std::string::npos) << out;
    EXPECT_NE(out.find("status=2"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(host("/Library")));
}

}  // namespace
