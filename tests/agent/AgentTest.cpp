// The agent in-process: start-up, version answers, its XPC service, the check schedule on the
// virtual clock, notifications on a private session bus, installing through a plug-in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "HttpsTestServer.h"
#include "SessionBus.h"
#include "agent/AppDelegate.h"
#include "agent/SetupPluginInstaller.h"
#include "codesign/TestPki.h"
#include "platform/codesign/Signer.h"
#include "foundation/KXRVersions.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/time/Clock.h"
#include "platform/workspace/Workspace.h"
#include "platform/xpc/Connection.h"
#include "support/FreshInstallRoot.h"
#include "update/HttpTransfer.h"

namespace telvo::agent::test {
namespace {

using update::test::HttpsTestServer;
using update::test::makeTemporaryFolder;
using update::test::readText;
using update::test::removeTree;
using update::test::writeText;

constexpr const char* kFeedPath = "/telvoserver3/version.php";

struct FakeInstaller : PluginInstaller {
    bool helper = true;
    long reply = 1;
    std::vector<std::string>* calls;
    explicit FakeInstaller(std::vector<std::string>* c) : calls(c) {}
    bool isHelperInstalled(const std::string& app) override {
        calls->push_back("isHelperInstalled " + app);
        return helper;
    }
    void setExcludeAgent(bool exclude) override { calls->push_back(exclude ? "excludeAgent YES" : "excludeAgent NO"); }
    void xpcInstallFromPath(const std::string& app, Reply r) override {
        calls->push_back("install " + app);
        long value = reply;
        // Replies come on the plug-in's own queue.
        std::thread([r, value] { r(value); }).detach();
    }
    void destroy() override { calls->push_back("destroy"); }
};

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        dispatch::MainLoop::resetForTesting();
        root = makeTemporaryFolder("telvo-agent-");
        ASSERT_FALSE(root.empty());
        fs::setRootForTesting(root);
        fs::createDirectories(root + "/home", 0700);
        fs::createDirectories(root + "/tmp", 0700);
        const char* home = std::getenv("HOME");
        if (home) savedHome = home;
        setenv("HOME", (root + "/home").c_str(), 1);
        setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        defaults::UserDefaults::setPreferencesFolderForTesting(root + "/prefs");
        defaults::UserDefaults::resetForTesting();
        systemlog::setCaptureForTesting([this](const std::string& line) {
            std::lock_guard lock(logMutex);
            logLines.push_back(line);
        });
        server = std::make_unique<HttpsTestServer>();
        if (!server->failure().empty()) GTEST_SKIP() << "no HTTPS test server: " << server->failure();
        server->setAnswer(kFeedPath, "<versions></versions>");
    }
    void TearDown() override {
        agent.reset();
        engine.reset();
        dispatch::MainLoop::resetForTesting();
        systemlog::setCaptureForTesting(nullptr);
        update::resetSettingsForTesting();
        workspace::setOpenToolForTesting("");
        server.reset();
        bus.reset();
        defaults::UserDefaults::setPreferencesFolderForTesting("");
        defaults::UserDefaults::resetForTesting();
        if (!savedHome.empty()) setenv("HOME", savedHome.c_str(), 1);
        unsetenv("TMPDIR");
        unsetenv("TELVO_OS_VERSION");
        KXRVersions::resetForTesting();
        fs::setRootForTesting("");
        removeTree(root);
    }
    void makeAgent() {
        engine = std::make_unique<update::UpdateCheckerCore>();
        agent = std::make_unique<AppDelegate>();
        agent->engine = engine.get();
        agent->settings.feed = server->url(kFeedPath);
        agent->settings.caFile = server->caFile();
        agent->settings.productPage = "https://example.invalid/telvoserver/";
        agent->settings.serviceName = "TEST.com.kestro.telvo.server.agent";
        agent->exitProcess = [this](int status) { exits.push_back(status); };
        agent->installerFactory = [this](const std::string& app, int64_t build) -> std::unique_ptr<PluginInstaller> {
            calls.push_back("load " + app + " " + std::to_string(build));
            auto i = std::make_unique<FakeInstaller>(&calls);
            i->helper = helperInstalled;
            i->reply = installReply;
            return i;
        };
    }
    void startBus() {
        bus = std::make_unique<SessionBus>(root);
        if (!bus->failure().empty()) GTEST_SKIP() << "no private session bus: " << bus->failure();
    }
    size_t posts() const {
        std::string text = server->posts();
        size_t n = 0;
        for (char c : text) n += c == '\n';
        return n;
    }
    std::vector<std::string> log() {
        std::lock_guard lock(logMutex);
        return logLines;
    }
    bool logged(const std::string& line) {
        for (const auto& l : log())
            if (l == line) return true;
        return false;
    }
    // Serves the main queue in real time until the predicate holds.
    bool waitUntil(const std::function<bool()>& predicate) {
        return dispatch::MainLoop::runUntil(predicate, 60);
    }

    std::string root, savedHome;
    std::unique_ptr<HttpsTestServer> server;
    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<update::UpdateCheckerCore> engine;
    std::unique_ptr<AppDelegate> agent;
    std::vector<std::string> calls;
    std::vector<int> exits;
    bool helperInstalled = true;
    long installReply = 1;
    std::mutex logMutex;
    std::vector<std::string> logLines;
};

TEST_F(AgentTest, AnnouncesItselfAndAnswersEveryVersionRequest) {
    notify::DistributedNotificationListener watcher;
    ASSERT_TRUE(watcher.isListening());
    makeAgent();
    agent->applicationDidFinishLaunching();
    notify::DistributedNotification response;
    ASSERT_TRUE(watcher.waitFor(AppDelegate::kAvailable, 60));
    ASSERT_TRUE(watcher.waitFor(AppDelegate::kVersionResponse, 60, &response));
    EXPECT_FLOAT_EQ(float(response.userInfo["version"].doubleValue()), 3.03f);
    EXPECT_EQ(response.userInfo["build"].intValue(), 270);
    EXPECT_EQ(log()[0], "Loading telvo server agent");
    EXPECT_EQ(log()[1], "Telvo Server Agent version 3.03 (270)");

    for (int i = 0; i < 3; ++i)
        notify::DistributedNotificationCenter::defaultCenter().postNotification(AppDelegate::kVersionRequest);
    EXPECT_TRUE(waitUntil([&] { return watcher.count(AppDelegate::kVersionResponse) == 4; }));
    EXPECT_EQ(watcher.count(AppDelegate::kAvailable), 1u);

    // Its XPC service answers version: with [3.03, 270].
    auto client = xpc::Connection::connectToService(agent->settings.serviceName, xpc::Connection::kPrivileged);
    std::atomic<bool> answered{false};
    Value answer;
    client->resume();
    client->call("version:", {}, [&](const Value& v) {
        answer = v;
        answered = true;
    });
    ASSERT_TRUE(waitUntil([&] { return answered.load(); }));
    EXPECT_FLOAT_EQ(float(answer.at(0).doubleValue()), 3.03f);
    EXPECT_EQ(answer.at(1).intValue(), 270);
    EXPECT_TRUE(waitUntil([&] { return agent->connections.size() == 1; }));
    client->invalidate();
    EXPECT_TRUE(waitUntil([&] { return agent->connections.empty(); }));
}

TEST_F(AgentTest, BeforeMountainLionOnlyTheTwoStartLines) {
    setenv("TELVO_OS_VERSION", "10.7", 1);
    KXRVersions::resetForTesting();
    notify::DistributedNotificationListener watcher;
    makeAgent();
    platform::Clock::useVirtual(1e9);
    agent->applicationDidFinishLaunching();
    dispatch::MainLoop::runFor(3 * 86400);
    EXPECT_EQ(log(), (std::vector<std::string>{"Loading telvo server agent", "Telvo Server Agent version 3.03 (270)"}));
    EXPECT_EQ(posts(), 0u);
    EXPECT_FALSE(watcher.waitFor(AppDelegate::kAvailable, 0.5));
}

TEST_F(AgentTest, ChecksAnHourAfterStartThenDailyAndRetriesAnHourAfterAFailure) {
    makeAgent();
    platform::Clock::useVirtual(1e9);
    agent->applicationDidFinishLaunching();
    dispatch::MainLoop::runFor(3599);
    EXPECT_EQ(posts(), 0u);
    dispatch::MainLoop::runFor(1);
    EXPECT_EQ(posts(), 1u);
    EXPECT_TRUE(logged("No Updates 0 270"));
    dispatch::MainLoop::runFor(86399);
    EXPECT_EQ(posts(), 1u);
    dispatch::MainLoop::runFor(1);
    EXPECT_EQ(posts(), 2u);

    // Not XML: the next check an hour later, then daily again.
    server->setAnswer(kFeedPath, "<html>Service unavailable");
    dispatch::MainLoop::runFor(86400);
    EXPECT_EQ(posts(), 3u);
    server->setAnswer(kFeedPath, "<versions></versions>");
    dispatch::MainLoop::runFor(3600);
    EXPECT_EQ(posts(), 4u);
    dispatch::MainLoop::runFor(86399);
    EXPECT_EQ(posts(), 4u);
    dispatch::MainLoop::runFor(1);
    EXPECT_EQ(posts(), 5u);

    // A TLS failure (an unknown CA) counts as a failure too.
    update::setCAFile(server->otherCAFile());
    dispatch::MainLoop::runFor(86400);
    EXPECT_EQ(posts(), 5u);  // the handshake failed before anything was posted
    update::setCAFile(server->caFile());
    dispatch::MainLoop::runFor(3600);
    EXPECT_EQ(posts(), 6u);
}

TEST_F(AgentTest, ManualUpdateOnlyNotifiesAndAClickStartsTheApplication) {
    startBus();
    server->setAnswer(kFeedPath, "<versions><b build=\"271\" version=\"3.04\" manual=\"\" url=\"" +
                                     server->url("/files/u.zip") + "\"/></versions>");
    server->addFile("u.zip", "never fetched");
    // Two copies of the application with the same build: the plainly named one is started.
    for (const char* name : {"Telvo Server copy.app", "Telvo Server.app"}) {
        const std::string bundle = root + "/Applications/" + name;
        fs::createDirectories(bundle + "/Contents/MacOS");
        writeText(bundle + "/Contents/Info.plist",
                  "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>"
                  "com.kestro.telvoserver</string><key>CFBundleVersion</key><string>270</string>"
                  "<key>CFBundleExecutable</key><string>Run</string></dict></plist>");
        writeText(bundle + "/Contents/MacOS/Run", "#!/bin/sh\necho '" + std::string(name) + "' > '" + root + "/started'\n");
        chmod((bundle + "/Contents/MacOS/Run").c_str(), 0755);
    }
    makeAgent();
    agent->applicationDidFinishLaunching();
    agent->checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return !bus->shown().empty(); }));
    EXPECT_TRUE(logged("Update available 271 270"));
    EXPECT_EQ(bus->shown()[0], "1\tTelvo Server\tAn Telvo Server update is available\t"
                               "Telvo Server 3.04 is now available. Click to update.\tdefault,Open");
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(fs::exists(root + "/tmp") && !fs::exists(root + "/tmp/Telvo Server 3.04 Update"));

    ASSERT_TRUE(waitUntil([&] { return agent && !engine->active; }));
    ASSERT_TRUE(bus->invoke(1, "default"));
    ASSERT_TRUE(waitUntil([&] { return !readText(root + "/started").empty(); }));
    EXPECT_EQ(readText(root + "/started"), "Telvo Server.app\n");

    // Without any application the product page is opened.
    removeTree(root + "/Applications");
    writeText(root + "/open", "#!/bin/sh\necho \"$1\" > '" + root + "/opened'\n");
    chmod((root + "/open").c_str(), 0755);
    workspace::setOpenToolForTesting(root + "/open");
    ASSERT_TRUE(bus->invoke(1, "default"));
    ASSERT_TRUE(waitUntil([&] { return !readText(root + "/opened").empty(); }));
    EXPECT_EQ(readText(root + "/opened"), "https://example.invalid/telvoserver/\n");
    // Another client's id is not ours.
    ASSERT_TRUE(bus->invoke(99, "default"));
}

TEST_F(AgentTest, HigherBuildWinsOverTheName) {
    makeAgent();
    struct Entry {
        const char* name;
        const char* identifier;
        int build;
    } entries[] = {{"Telvo Server.app", "com.kestro.telvoserver", 270},
                   {"Old/Telvo Server 2.app", "com.kestro.telvoserver", 271},
                   {"Telvo Server 3.app", "com.example.other", 400},
                   {".hidden/Telvo Server.app", "com.kestro.telvoserver", 500}};
    for (const auto& e : entries) {
        const std::string bundle = root + "/Applications/" + e.name;
        fs::createDirectories(bundle + "/Contents");
        writeText(bundle + "/Contents/Info.plist",
                  std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>") +
                      e.identifier + "</string><key>CFBundleVersion</key><string>" + std::to_string(e.build) +
                      "</string></dict></plist>");
    }
    EXPECT_EQ(agent->currentAppLocation(), root + "/Applications/Old/Telvo Server 2.app");
}

// The application the update server offers: a bundle of build 271, signed by the test maker
// unless `variant` says otherwise, zipped by Python's zipfile (modes and links only in the
// central directory), offered as build `offered`.
void serveUpdateZip(HttpsTestServer& server, const std::string& root, const std::string& variant = "",
                    int offered = 271) {
    const auto& pki = telvo::testing::TestPki::shared();
    ASSERT_TRUE(pki.ok) << pki.failure;
    ASSERT_TRUE(telvo::testing::installMakersAnchor(root, pki.pem("anchor")));
    const std::string stage = root + "/stage-" + variant;
    const std::string bundle = stage + "/Telvo Server.app";
    ASSERT_EQ(telvo::testing::run("rm -rf '" + stage + "' && mkdir -p '" + bundle + "/Contents/MacOS' '" + bundle +
                                  "/Contents/Resources' && cp /bin/true '" + bundle +
                                  "/Contents/MacOS/Telvo Server' && echo data > '" + bundle +
                                  "/Contents/Resources/data' && ln -s ../MacOS '" + bundle + "/Contents/Resources/Programs'"),
              0);
    writeText(bundle + "/Contents/Info.plist",
              std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>") +
                  (variant == "other-app" ? "com.example.other" : "com.kestro.telvoserver") +
                  "</string><key>CFBundleVersion</key><string>271</string><key>CFBundleExecutable</key><string>"
                  "Telvo Server</string></dict></plist>");
    if (variant != "unsigned") {
        ErrorPtr error;
        const std::string identifier = variant == "wrong-identifier" ? "com.example.Other" : "com.kestro.TelvoServer";
        ASSERT_TRUE(codesign::signBundle(bundle, identifier, pki.identity("leaf", "devIdCA"), 0, &error))
            << (error ? error->message : "");
    }
    if (variant == "flipped") writeText(bundle + "/Contents/Resources/data", "dat4\n");
    const std::string script = std::string(TELVO_SOURCE_DIR) + "/tests/update/data/zip_tree.py";
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + stage + "' '" + server.folder() +
                           "/Telvo Server 3.04.zip'")
                              .c_str()),
              0);
    server.setAnswer(kFeedPath, "<versions><b build=\"" + std::to_string(offered) + "\" version=\"3.04\" url=\"" +
                                    server.url("/files/Telvo%20Server%203.04.zip") + "\"/></versions>");
}

TEST_F(AgentTest, InstallsThroughThePluginAndExitsFiveSecondsLater) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    serveUpdateZip(*server, root);
    for (long reply : {1L, 2L}) {
        calls.clear();
        exits.clear();
        installReply = reply;
        makeAgent();
        platform::Clock::useVirtual(1e9);
        agent->applicationDidFinishLaunching();
        dispatch::MainLoop::runFor(3600);
        const std::string folder = root + "/tmp/Telvo Server 3.04 Update" + (reply == 1 ? "" : " 1");
        ASSERT_GE(calls.size(), 4u) << reply;
        EXPECT_EQ(calls[0], "load " + folder + "/Telvo Server.app 271");
        EXPECT_EQ(calls[1], "isHelperInstalled " + folder + "/Telvo Server.app");
        EXPECT_EQ(calls[2], "excludeAgent YES");
        EXPECT_EQ(calls[3], "install " + folder + "/Telvo Server.app");
        struct stat st;
        ASSERT_EQ(lstat((folder + "/Telvo Server.app/Contents/Resources/Programs").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        ASSERT_EQ(stat((folder + "/Telvo Server.app/Contents/MacOS/Telvo Server").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        ASSERT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        // The reply comes from another thread; serve the main queue until it arrived.
        ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return logged("installation successfull. Restarting self"); }, 60));
        dispatch::MainLoop::runFor(4.9);
        EXPECT_TRUE(exits.empty());
        dispatch::MainLoop::runFor(0.2);
        EXPECT_EQ(exits, std::vector<int>{1}) << reply;
        agent.reset();
        logLines.clear();
    }
}

TEST_F(AgentTest, FailedOrRefusedInstallsNotify) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    serveUpdateZip(*server, root);
    struct Case {
        bool helper;
        long reply;
        const char* line;
    } cases[] = {{false, 1, "helper not installed"}, {true, -1, "installation failed"}};
    for (const auto& c : cases) {
        calls.clear();
        exits.clear();
        logLines.clear();
        helperInstalled = c.helper;
        installReply = c.reply;
        makeAgent();
        agent->applicationDidFinishLaunching();
        agent->checkForUpdates();
        ASSERT_TRUE(waitUntil([&] { return logged(c.line); })) << c.line;
        dispatch::MainLoop::runUntilIdle();
        if (!c.helper) {
            EXPECT_EQ(calls.size(), 2u);
        } else {
            EXPECT_EQ(calls.back(), "destroy");
        }
        EXPECT_TRUE(exits.empty());
        agent.reset();
    }
}

TEST_F(AgentTest, RefusesDownloadsThatAreNotTheMakersOfferedBuild) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    struct Case {
        const char* variant;
        int offered;
        const char* why;
    } cases[] = {{"unsigned", 271, "is not the maker's signed application"},
                 {"flipped", 271, "is not the maker's signed application"},
                 {"wrong-identifier", 271, "is not the maker's signed application"},
                 {"other-app", 271, "is another application (com.example.other)"},
                 {"", 272, "is build 271, not the build 272 offered above 270"}};
    startBus();
    size_t shown = 0;
    for (const auto& c : cases) {
        serveUpdateZip(*server, root, c.variant, c.offered);
        calls.clear();
        logLines.clear();
        makeAgent();
        agent->applicationDidFinishLaunching();
        agent->checkForUpdates();
        ASSERT_TRUE(waitUntil([&] {
            for (const auto& l : log())
                if (l.rfind("Refusing the update at ", 0) == 0) return true;
            return false;
        })) << c.variant;
        std::string refusal;
        for (const auto& l : log())
            if (l.rfind("Refusing the update at ", 0) == 0) refusal = l;
        EXPECT_NE(refusal.find(c.why), std::string::npos) << refusal;
        // Nothing of the download was loaded; the user is told an update is available.
        EXPECT_TRUE(calls.empty()) << c.variant;
        EXPECT_TRUE(waitUntil([&] { return bus->shown().size() == shown + 1; })) << c.variant;
        shown = bus->shown().size();
        ASSERT_GT(shown, 0u);
        EXPECT_NE(bus->shown().back().find("An Telvo Server update is available"), std::string::npos);
        agent.reset();
    }
}

TEST_F(AgentTest, ADownloadWithoutTheMakersPluginIsNotInstalled) {
    if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
    serveUpdateZip(*server, root);
    makeAgent();
    agent->installerFactory = [](const std::string& application, int64_t) { return loadSetupPluginInstaller(application); };
    agent->applicationDidFinishLaunching();
    agent->checkForUpdates();
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& l : log())
            if (l.rfind("The setup plug-in of ", 0) == 0) return true;
        return false;
    }));
    EXPECT_TRUE(logged("No setup plug-in could be loaded from " + root + "/tmp/Telvo Server 3.04 Update/Telvo Server.app"));
    dispatch::MainLoop::runUntilIdle();
    EXPECT_TRUE(exits.empty());
}

}  // namespace
}  // namespace telvo::agent::test
