// End to end, as root in a fresh file-system root: the privileged helper installed as the
// job-blessing service would (its program in "/Library/PrivilegedHelperTools/", its job from
// the launchd list it carries), started by our launcher on the first connection, driven by a
// real user's signed client that runs as the executable of a signed application in
// "~/Downloads". The install list runs as root; the daemon then answers TLS.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "HelperClient.h"
#include "HelperFixture.h"
#include "support/FreshInstallRoot.h"
#include "codesign/TestPki.h"
#include "helper/LegacySetupLists.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Signer.h"
#include "platform/fs/Root.h"
#include "platform/launchd/LaunchdProcess.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using namespace telvo::testing;

namespace telvo::helper {
namespace {

const std::string kBundle = std::string(TELVO_BUNDLE_DIR) + "/Telvo Server.app";
const std::string kHelperJob = "/Library/LaunchDaemons/com.kestro.telvoserver.installerhelper.plist";
const std::string kHelperTool = "/Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper";
const std::string kSupport = "/Library/Application Support/Telvo Server";

std::string output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (pipe) pclose(pipe);
    return out;
}

class InstallerHelperTest : public HelperFixture {
protected:
    void SetUp() override {
        HelperFixture::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "the helper runs as root under the system launcher";
        if (!TestPki::shared().ok) GTEST_SKIP() << "no test PKI: " << TestPki::shared().failure;
        TestUser user;
        ASSERT_TRUE(makeTestUser(root_, user));
        user_ = user.name;
        home_ = user.home;
        uid_ = user.uid;
        gid_ = user.gid;
        made_ = true;
        // The maker's anchor, as root's.
        ASSERT_TRUE(installMakersAnchor(root_, TestPki::shared().pem("anchor")));
        // Blessing: the helper's program and its job from the list the program carries.
        std::filesystem::create_directories(host("/Library/PrivilegedHelperTools"));
        std::filesystem::create_directories(host("/Library/LaunchDaemons"));
        ASSERT_EQ(std::system(("cp '" + kBundle + "/Contents/Library/LaunchServices/com.kestro.telvoserver.installerhelper' '" +
                               host(kHelperTool) + "' && chmod 544 '" + host(kHelperTool) + "'")
                                  .c_str()),
                  0);
        Value job = codesign::readEmbeddedPropertyListFromFile(kHelperTool, codesign::kLaunchdSectionName);
        ASSERT_TRUE(job.isDictionary());
        job.set("ProgramArguments", Value(ValueArray{Value(kHelperTool)}));
        writeJob(root_, kHelperJob, job);
    }
    void TearDown() override {
        if (made_) removeTestUser(TestUser{user_, home_, uid_, gid_});
        HelperFixture::TearDown();
    }

    // The application in "~/Downloads" with the signed client as its executable, signed whole.
    std::string signedApplication() {
        const std::string app = home_ + "/Downloads/Telvo Server.app";
        std::filesystem::create_directories(host(home_ + "/Downloads"));
        EXPECT_EQ(std::system(("cp -a '" + kBundle + "' '" + host(app) + "' && cp '" + kClient + "' '" + host(app) +
                               "/Contents/MacOS/Telvo Server'")
                                  .c_str()),
                  0);
        Value info = plist::readFile(app + "/Contents/Info.plist");
        info.set("CFBundleExecutable", Value("Telvo Server"));
        EXPECT_TRUE(plist::writeFile(info, app + "/Contents/Info.plist"));
        const codesign::SigningIdentity identity = TestPki::shared().identity("leaf", "devIdCA");
        ErrorPtr error;
        EXPECT_TRUE(codesign::signExecutable(app + "/Contents/MacOS/Telvo Server", "com.kestro.TelvoServer", identity, 0, &error))
            << (error ? error->message : "");
        EXPECT_TRUE(codesign::signBundle(app, "com.kestro.TelvoServer", identity, 0, &error)) << (error ? error->message : "");
        EXPECT_EQ(std::system(("chown -R " + user_ + ": '" + host(home_) + "/Downloads'").c_str()), 0);
        return app;
    }
    std::unique_ptr<Client> client(const std::string& program, const ValueArray& list) {
        static int counter = 0;
        const std::string file = host(home_ + "/list-" + std::to_string(counter++) + ".plist");
        std::ofstream(file) << plist::serialize(Value(list));
        auto c = std::make_unique<Client>(program, std::vector<std::string>{file},
                                          std::vector<std::string>{"TELVO_ROOT=" + root_, "HOME=" + host(home_)}, uid_, gid_);
        EXPECT_TRUE(c->waitFor("ready\n"));
        return c;
    }
    std::string statOf(const std::string& path) { return output("stat -c '%a %u:%g %F' '" + host(path) + "' 2>&1"); }
    // The launcher lists the helper's job with a process id while it runs, "-" before.
    bool helperRunning() {
        std::regex running(R"((^|\n)[0-9]+\t-?[0-9]+\tcom\.kestro\.telvoserver\.installerhelper\n)");
        return std::regex_search(launchctl(root_, {"list"}).output, running);
    }
    bool helperListed() {
        return launchctl(root_, {"list"}).output.find("\tcom.kestro.telvoserver.installerhelper\n") != std::string::npos;
    }

    std::string user_, home_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool made_ = false;
};

TEST_F(InstallerHelperTest, TheUsersSignedApplicationInstallsThroughTheHelperStartedOnDemand) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is needed as the TLS peer";
    std::string why;
    if (!enterPrivateNetworkAndBus(why)) GTEST_SKIP() << why;
    const std::string app = signedApplication();
    // An older application stands in "/Applications"; the Trash already holds one of that name.
    std::filesystem::create_directories(host("/Applications/Telvo Server.app/Contents"));
    makeFile("/Applications/Telvo Server.app/Contents/old-only", "old");
    std::filesystem::create_directories(host(home_ + "/.Trash/Telvo Server.app"));
    ASSERT_EQ(std::system(("chown -R " + user_ + ": '" + host(home_) + "/.Trash' && chmod 700 '" + host(home_) + "/.Trash'").c_str()), 0);

    LaunchdProcess launchd(root_, 0, {}, {"TELVO_NETSTATE_FILE=/nonexistent"});
    ASSERT_TRUE(launchd.start()) << launchd.log();
    EXPECT_TRUE(helperListed()) << launchctl(root_, {"list"}).output;
    EXPECT_FALSE(helperRunning()) << "no helper runs before a connection";

    ValueArray list;
    for (HelperCommand c : legacyInstallList(app + "/Contents/Resources/SetupBundle.bundle")) {
        if (c.command() == "config") c.set("log", Value(home_ + "/Library/Logs/Telvo Server/InstallerHelper"));
        list.push_back(c.dictionary());
    }
    const std::string owner = std::to_string(uid_) + ":" + std::to_string(gid_);
    list.push_back(HelperCommand::make("trash", {{"file", Value(kInstalledApplication)}, {"dest", Value(home_ + "/.Trash")}}).dictionary());
    list.push_back(HelperCommand::make("copy", {{"file", Value(app)}, {"dest", Value(kInstalledApplication)},
                                                {"chown", Value(owner)}, {"chmod", Value("755")}}).dictionary());
    list.push_back(HelperCommand::make("finish", {{"reply", Value(true)}}).dictionary());

    auto installer = client(host(app + "/Contents/MacOS/Telvo Server"), list);
    installer->send("go");
    ASSERT_TRUE(installer->waitFor("done\n", 120)) << installer->output() << launchd.log();
    EXPECT_TRUE(installer->has("reply " + std::to_string(list.size() - 1) + " ''\n")) << installer->output() << launchd.log();
    EXPECT_TRUE(helperRunning()) << launchctl(root_, {"list"}).output;

    struct Expected {
        std::string path, stat;
    } tree[] = {
        {"/Library/Application Support", "755 0:0 directory"},
        {kSupport, "755 0:0 directory"},
        {kSupport + "/databases", "755 0:0 directory"},
        {kSupport + "/TelvoServerDaemon", "755 0:0 regular file"},
        {kSupport + "/TelvoServerAgent.app", "755 0:0 directory"},
        {"/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist", "644 0:0 regular file"},
        {"/Library/LaunchAgents/com.kestro.telvoserveragent.plist", "644 0:0 regular file"},
        {"/Applications", "755 0:0 directory"},
        {"/Applications/Telvo Server.app", "755 " + owner + " directory"},
        {"/Applications/Telvo Server.app/Contents/MacOS/Telvo Server", "755 " + owner + " regular file"},
        {home_ + "/.Trash/Telvo Server (2).app", "755 0:0 directory"},
        {home_ + "/.Trash/Telvo Server (2).app/Contents/old-only", "644 0:0 regular file"},
        {home_ + "/Library/Logs/Telvo Server/InstallerHelper", "755 " + owner + " directory"},
    };
    for (const auto& e : tree) EXPECT_EQ(statOf(e.path), e.stat + "\n") << e.path;
    const std::string logs = host(home_ + "/Library/Logs/Telvo Server/InstallerHelper");
    EXPECT_EQ(output("find '" + logs + "' -name '*.log' ! -user " + user_), "") << "the logs are the user's";
    EXPECT_NE(output("cat '" + logs + "'/*.log"), "");
    // The staged copy is gone once the connection ended.
    installer->closeInput();
    installer->waitExit();
    EXPECT_TRUE(waitUntil([&] { return output("ls -A '" + host("/var/db/telvo/installerhelper") + "' 2>/dev/null").empty(); }, 60))
        << output("ls -la '" + host("/var/db/telvo/installerhelper") + "'");

    const std::string ready = ": Waiting for connections on port 5109.\n";
    auto daemonLog = [&] { return readHostFile(host("/Library/Logs/TelvoServer.log")); };
    ASSERT_TRUE(waitUntil([&] { return daemonLog().find(ready) != std::string::npos; }, 60)) << daemonLog() << launchd.log();
    std::string tls = output("echo | timeout 20 openssl s_client -connect 127.0.0.1:5109 2>&1");
    EXPECT_NE(tls.find("-----BEGIN CERTIFICATE-----"), std::string::npos) << tls;
    EXPECT_EQ(launchd.stop(), 0);
}

// The user plants a sparse file of 5 GiB, or 100001 empty files, in the application it
// installs from: root stages no byte and no inode past the limit (no application that large
// passes the check), so root's disk is not filled.
TEST_F(InstallerHelperTest, AnApplicationTooLargeToCheckIsNotStaged) {
    const std::string app = signedApplication();
    struct Case {
        const char* name;
        std::string plant, logged;
    } cases[] = {
        {"huge", "truncate -s 5G huge", "huge takes the copy over its limit"},
        {"many", "mkdir many && (cd many && seq 1 100001 | xargs touch)", "many holds more files and folders than the copy may take"},
    };
    const std::string resources = host(app + "/Contents/Resources");
    for (const Case& planted : cases) {
        SCOPED_TRACE(planted.name);
        ASSERT_EQ(std::system(("cd '" + resources + "' && " + planted.plant + " && chown -R " + user_ + ": " + planted.name).c_str()), 0);
        LaunchdProcess launchd(root_, 0, {});
        ASSERT_TRUE(launchd.start()) << launchd.log();
        const std::string program = host(app + "/Contents/MacOS/Telvo Server");
        auto c = client(program, {
            HelperCommand::make("copy", {{"file", Value(app + "/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon")},
                                         {"dest", Value(kSupport + "/TelvoServerDaemon")}}).dictionary(),
            HelperCommand::make("finish", {{"reply", Value(true)}}).dictionary(),
        });
        c->send("go");
        ASSERT_TRUE(c->waitFor("done\n", 120)) << c->output() << launchd.log();
        EXPECT_TRUE(c->has("reply 1 '1'\n")) << c->output();
        EXPECT_TRUE(waitUntil([&] { return launchd.logged(planted.logged); }, 30)) << launchd.log();
        EXPECT_FALSE(std::filesystem::exists(host(kSupport + "/TelvoServerDaemon")));
        // The staged copy went with the connection; nothing of what was planted stays with root.
        EXPECT_TRUE(waitUntil([&] {
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator(host("/var/db/telvo/installerhelper"), ec)) {
                (void)e;
                return false;
            }
            return true;
        }, 30));
        EXPECT_EQ(launchd.stop(), 0);
        ASSERT_EQ(std::system(("rm -rf '" + resources + "/" + planted.name + "'").c_str()), 0);
    }
}

TEST_F(InstallerHelperTest, MissingOlderOrSwappedSourcesAreCountedAndAnUnloadDuringASleepEndsTheHelperAtOnce) {
    const std::string app = signedApplication();
    LaunchdProcess launchd(root_, 0, {});
    ASSERT_TRUE(launchd.start()) << launchd.log();
    const std::string program = host(app + "/Contents/MacOS/Telvo Server");

    auto missing = client(program, {
        HelperCommand::make("copy", {{"file", Value(app + "/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemonX")},
                                     {"dest", Value(kSupport + "/TelvoServerDaemon")}}).dictionary(),
        HelperCommand::make("finish", {{"reply", Value(true)}}).dictionary(),
    });
    missing->send("go");
    ASSERT_TRUE(missing->waitFor("done\n", 120)) << missing->output() << launchd.log();
    EXPECT_TRUE(missing->has("reply 1 '1'\n")) << missing->output();
    EXPECT_TRUE(helperRunning());

    // An installed agent of a later build: an application of an older build is refused.
    std::filesystem::create_directories(host(kSupport + "/TelvoServerAgent.app/Contents"));
    Value agentInfo(ValueDictionary{{"CFBundleIdentifier", Value("com.kestro.telvoserveragent")}, {"CFBundleVersion", Value("999")}});
    ASSERT_TRUE(plist::writeFile(agentInfo, kSupport + "/TelvoServerAgent.app/Contents/Info.plist"));
    auto older = client(program, {
        HelperCommand::make("copy", {{"file", Value(app + "/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon")},
                                     {"dest", Value(kSupport + "/TelvoServerDaemon")}}).dictionary(),
        HelperCommand::make("finish", {{"reply", Value(true)}}).dictionary(),
    });
    older->send("go");
    ASSERT_TRUE(older->waitFor("done\n", 120)) << older->output() << launchd.log();
    EXPECT_TRUE(older->has("reply 1 '1'\n")) << older->output();
    EXPECT_FALSE(std::filesystem::exists(host(kSupport + "/TelvoServerDaemon")));
    EXPECT_TRUE(waitUntil([&] { return launchd.logged("older than the installed agent's 999"); }, 30)) << launchd.log();
    std::filesystem::remove_all(host(kSupport + "/TelvoServerAgent.app"));

    // The daemon swapped in the application after it was signed: its staged copy fails the
    // check, nothing is installed.
    const std::string daemon = app + "/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon";
    ASSERT_EQ(std::system(("cp /bin/true '" + host(daemon) + "' && chown " + user_ + ": '" + host(daemon) + "'").c_str()), 0);
    auto swapped = client(program, {
        HelperCommand::make("copy", {{"file", Value(daemon)}, {"dest", Value(kSupport + "/TelvoServerDaemon")}}).dictionary(),
        HelperCommand::make("finish", {{"reply", Value(true)}}).dictionary(),
    });
    swapped->send("go");
    ASSERT_TRUE(swapped->waitFor("done\n", 120)) << swapped->output() << launchd.log();
    EXPECT_TRUE(swapped->has("reply 1 '1'\n")) << swapped->output();
    EXPECT_FALSE(std::filesystem::exists(host(kSupport + "/TelvoServerDaemon")));
    EXPECT_TRUE(waitUntil([&] { return launchd.logged("has no valid signature"); }, 30)) << launchd.log();

    auto sleeper = client(program, {HelperCommand::make("sleep", {{"time", Value(30.0)}}).dictionary(),
                                    HelperCommand::make("finish", {{"reply", Value(true)}}).dictionary()});
    sleeper->send("go");
    // The sleep begins as soon as its message has arrived; the unload comes well within it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    auto began = std::chrono::steady_clock::now();
    CommandResult unload = launchctl(root_, {"unload", kHelperJob});
    EXPECT_EQ(unload.status, 0) << unload.output;
    ASSERT_TRUE(waitUntil([&] { return launchd.logged("com.kestro.telvoserver.installerhelper: exited with status 0"); }, 60))
        << launchd.log();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20)) << "the helper ended at once";
    ASSERT_TRUE(sleeper->waitFor("done\n", 60)) << sleeper->output();
    EXPECT_TRUE(sleeper->has("error 1 ")) << sleeper->output();
    EXPECT_EQ(launchd.stop(), 0);
}

}  // namespace
}  // namespace telvo::helper
