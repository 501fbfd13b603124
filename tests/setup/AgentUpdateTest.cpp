// End to end as a real user: the user's agent, started by the Aqua instance from the installed
// 3.03 (270), finds 3.04 (271) on the update server, downloads the signed zip into its
// temporary folder, unpacks it with its links and modes, installs it through the download's
// own setup plug-in and the blessed helper, exits 1 five seconds later, and its new copy,
// started again by KeepAlive, answers as 3.04 (271). An update whose helper is of another
// build than the installed one changes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "HttpsTestServer.h"
#include "SetupFixture.h"
#include "codesign/TestPki.h"
#include "platform/codesign/Signer.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/notify/DistributedNotificationListener.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

const std::string kAgentLabel = "com.kestro.telvoserveragent";
const std::string kFeedPath = "/telvoserver3/version.php";
const std::string kTestBundle = std::string(TELVO_TEST_BUNDLE_DIR) + "/Telvo Server.app";

int sh(const std::string& command) { return std::system(command.c_str()); }

class AgentUpdateTest : public SetupFixture {
protected:
    AgentUpdateTest() {
        privateNetwork_ = true;
        userInstance_ = true;
        realAgent_ = true;
        // The first check a few seconds after the agent starts, not an hour.
        aquaEnvironment_.push_back("TELVO_AGENT_FIRST_CHECK=5");
    }
    long agentPid() {
        std::smatch m;
        std::string list = launchctl(root_, {"list"}, uid_).output;
        std::regex line("(^|\\n)([0-9]+)\\t-?[0-9]+\\t" + kAgentLabel + "\\n");
        return std::regex_search(list, m, line) ? std::stol(m[2]) : 0;
    }
    // The agent's settings (the test server and its CA, in root's files); the update, the
    // 3.04 (271) test bundle signed by the maker (its helper of `helperBuild` when given) with a
    // link beside it (the helper copies no link out of an application), zipped by Python's
    // zipfile and offered as build 271; then 3.03 (270) installed from "~/Downloads", whose
    // agent the Aqua instance starts.
    void prepare(const std::string& helperBuild = "") {
        if (access("/usr/bin/bsdtar", X_OK) != 0) GTEST_SKIP() << "bsdtar (libarchive-tools) is missing";
        if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "python3 is missing (it makes the update's zip)";
        setPolicy(std::string(kBlessRight) + " allow\n");
        server = std::make_unique<update::test::HttpsTestServer>();
        if (!server->failure().empty()) GTEST_SKIP() << "no HTTPS test server: " << server->failure();

        // The agent's settings: the test server and its CA, in root's files.
        ASSERT_EQ(sh("cp '" + server->caFile() + "' '" + hostPath("/etc/telvo/update-ca.pem") + "' && chmod 644 '" +
                     hostPath("/etc/telvo/update-ca.pem") + "'"),
                  0);
        {
            std::ofstream(hostPath("/etc/telvo/agent.plist"))
                << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>UpdateFeed</key><string>"
                << server->url(kFeedPath)
                << "</string><key>UpdateCAFile</key><string>/etc/telvo/update-ca.pem</string></dict></plist>";
        }
        ::chmod(hostPath("/etc/telvo/agent.plist").c_str(), 0644);

        const std::string stage = "/stage/Telvo Server.app";
        makeApplication(stage, kHelperLabel, false, kTestBundle);
        if (!helperBuild.empty()) setHelperBuild(stage, helperBuild);
        signApplication(stage);
        std::filesystem::create_symlink("Telvo Server.app/Contents/Info.plist", hostPath("/stage/Read Me.plist"));
        ASSERT_EQ(sh("/usr/bin/python3 '" + std::string(TELVO_SOURCE_DIR) + "/tests/update/data/zip_tree.py' '" +
                     hostPath("/stage") + "' '" + server->folder() + "/Telvo Server 3.04.zip'"),
                  0);
        server->setAnswer(kFeedPath, "<versions><b build=\"271\" version=\"3.04\" url=\"" +
                                        server->url("/files/Telvo%20Server%203.04.zip") + "\"/></versions>");

        fs::setRootForTesting(root_);
        watcher = std::make_unique<notify::DistributedNotificationListener>();
        ASSERT_TRUE(watcher->isListening());

        // 3.03 (270) installed from "~/Downloads": the Aqua instance starts its agent.
        const std::string app = makeApplication(home_ + "/Downloads/Telvo Server.app");
        int status = -1;
        std::string out = runHost(app, {"install", app}, &status);
        ASSERT_NE(out.find("reply 2\n"), std::string::npos) << out << launchd_->log();
        notify::DistributedNotification first;
        ASSERT_TRUE(watcher->waitFor("TelvoServerAgentVersionResponse", 60, &first)) << aqua_->log();
        EXPECT_EQ(first.userInfo["build"].intValue(), 270);
        oldAgent = agentPid();
        EXPECT_GT(oldAgent, 0);
    }
    // The helper inside an application says it is build `build` (its embedded Info list).
    void setHelperBuild(const std::string& app, const std::string& build) {
        const std::string helper = hostPath(app + "/Contents/Library/LaunchServices/" + kHelperLabel);
        std::ifstream in(helper, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        const size_t at = bytes.find("<key>CFBundleVersion</key>\n\t<string>102</string>");
        ASSERT_NE(at, std::string::npos);
        bytes.replace(bytes.find("102", at), 3, build);
        std::ofstream(helper, std::ios::binary | std::ios::trunc) << bytes;
        const codesign::SigningIdentity identity = TestPki::shared().identity("leaf", "devIdCA");
        ErrorPtr error;
        ASSERT_TRUE(codesign::signExecutable(app + "/Contents/Library/LaunchServices/" + kHelperLabel, kHelperLabel,
                                             identity, 0, &error));
    }
    void TearDown() override {
        watcher.reset();
        fs::setRootForTesting("");
        SetupFixture::TearDown();
    }

    std::unique_ptr<update::test::HttpsTestServer> server;
    std::unique_ptr<notify::DistributedNotificationListener> watcher;
    long oldAgent = 0;
};

TEST_F(AgentUpdateTest, TheAgentInstallsTheOfferedBuildAndItsNewCopyAnswersAsIt) {
    prepare();
    if (HasFatalFailure() || IsSkipped()) return;

    // The check, the download and the install; then the exit five seconds after the line.
    const std::string success = "installation successfull. Restarting self";
    auto helperLog = [&] {
        std::string text;
        const std::string logs = hostPath(home_ + "/Library/Logs/Telvo Server/InstallerHelper");
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(logs, ec)) text += readHostFile(e.path());
        return text;
    };
    ASSERT_TRUE(waitUntil([&] { return aqua_->logged(success) || aqua_->logged("installation failed"); }, 240))
        << aqua_->log() << server->posts();
    ASSERT_TRUE(aqua_->logged(success)) << aqua_->log() << helperLog() << launchd_->log();
    const auto installed = std::chrono::steady_clock::now();
    EXPECT_TRUE(aqua_->logged("Update available 271 270")) << aqua_->log();
    const std::string exited = "launchd: " + kAgentLabel + ": exited with status 1";
    ASSERT_TRUE(waitUntil([&] { return aqua_->logged(exited); }, 60)) << aqua_->log();
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - installed).count();
    EXPECT_GE(waited, 4.5) << aqua_->log();
    EXPECT_NE(server->posts().find("version=3.03&build=270&"), std::string::npos) << server->posts();

    // The download unpacked in the user's temporary folder with its link and modes.
    const std::string folder = hostPath(home_ + "/tmp/Telvo Server 3.04 Update");
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, uid_);
    ASSERT_EQ(lstat((folder + "/Read Me.plist").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat((folder + "/Telvo Server.app/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon")
                       .c_str(),
                   &st),
              0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    // Installed: the new agent in place, started again by KeepAlive, answering as 3.04 (271),
    // unasked at its start and when asked.
    notify::DistributedNotification answer;
    ASSERT_TRUE(watcher->waitFor("TelvoServerAgentVersionResponse", 60, &answer)) << aqua_->log();
    EXPECT_EQ(answer.userInfo["build"].intValue(), 271) << aqua_->log();
    EXPECT_FLOAT_EQ(float(answer.userInfo["version"].doubleValue()), 3.04f);
    EXPECT_TRUE(waitUntil([&] { return agentPid() > 0 && agentPid() != oldAgent; }, 60));
    notify::DistributedNotificationCenter::defaultCenter().postNotification("TelvoServerAgentVersionReqest");
    ASSERT_TRUE(watcher->waitFor("TelvoServerAgentVersionResponse", 60, &answer)) << aqua_->log();
    EXPECT_EQ(answer.userInfo["build"].intValue(), 271);
    const std::string installedInfo = readHostFile(
        hostPath("/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents/Info.plist"));
    EXPECT_NE(installedInfo.find("<string>271</string>"), std::string::npos) << installedInfo;
    // The new copy finds nothing newer than itself.
    EXPECT_TRUE(waitUntil([&] { return aqua_->logged("No Updates 0 271"); }, 60)) << aqua_->log();
}

}  // namespace

TEST_F(AgentUpdateTest, AnUpdateWithAnotherHelperIsNotInstalledAndChangesNothing) {
    prepare("103");
    if (HasFatalFailure() || IsSkipped()) return;
    // The download's own plug-in finds the installed helper of another build: nothing runs as
    // root, the agent stays as it is and keeps running.
    ASSERT_TRUE(waitUntil([&] { return aqua_->logged("helper not installed"); }, 240)) << aqua_->log() << server->posts();
    EXPECT_TRUE(aqua_->logged("Update available 271 270")) << aqua_->log();
    EXPECT_FALSE(aqua_->logged("Starting XPC Install")) << aqua_->log();
    const std::string installedInfo = readHostFile(
        hostPath("/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents/Info.plist"));
    EXPECT_NE(installedInfo.find("<string>270</string>"), std::string::npos) << installedInfo;
    EXPECT_NE(readHostFile(hostPath("/Applications/Telvo Server.app/Contents/Info.plist")).find("<string>270</string>"),
              std::string::npos);
    // Still the same process (nothing after this line would end it).
    EXPECT_FALSE(aqua_->logged("exited with status")) << aqua_->log();
    EXPECT_EQ(agentPid(), oldAgent);
}
