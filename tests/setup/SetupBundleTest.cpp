// End to end in a fresh root under the system and Aqua instances, as a real user: the signed
// test host loads the plug-in from the application it is the executable of, and the plug-in
// blesses the helper and installs or uninstalls through it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <signal.h>

#include "SetupFixture.h"
#include "codesign/TestPki.h"
#include "platform/codesign/Signer.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

const std::string kInstalled = "/Applications/Telvo Server.app";
const std::string kSupport = "/Library/Application Support/Telvo Server";
const std::string kAgentLabel = "com.kestro.telvoserveragent";

std::string output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (pipe) pclose(pipe);
    return out;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class SetupBundleTest : public SetupFixture {
protected:
    SetupBundleTest() {
        privateNetwork_ = true;
        userInstance_ = true;
    }
    std::string downloads() const { return home_ + "/Downloads/Telvo Server.app"; }
    // The agent's process id in the user's instance, or 0.
    long agentPid() {
        std::smatch m;
        std::string list = launchctl(root_, {"list"}, uid_).output;
        std::regex line("(^|\\n)([0-9]+)\\t-?[0-9]+\\t" + kAgentLabel + "\\n");
        return std::regex_search(list, m, line) ? std::stol(m[2]) : 0;
    }
    std::string pluginLog() { return output("cat '" + hostPath(home_) + "/Library/Logs/Telvo Server/SetupBundle/'*.log 2>/dev/null"); }
};

TEST_F(SetupBundleTest, OnlyTheMakersSignedPluginLoadsAndItExportsOneSymbol) {
    const std::string app = makeApplication(downloads());
    const std::string module = hostPath(app + "/Contents/Resources/SetupBundle.bundle/Contents/MacOS/SetupBundle.so");
    EXPECT_EQ(output("nm -D --defined-only '" + module + "' | awk '{print $3}'"), "SetupBundleInstaller\n");
    EXPECT_EQ(runHost(app, {"installed", app}), "installed no\n");

    // Unsigned: the plug-in's own signature gone, the application signed around it.
    makeApplication(downloads(), kHelperLabel, false);
    const codesign::SigningIdentity identity = TestPki::shared().identity("leaf", "devIdCA");
    ErrorPtr error;
    ASSERT_TRUE(codesign::signExecutable(app + "/Contents/MacOS/Telvo Server", "com.kestro.TelvoServer", identity, 0, &error));
    ASSERT_TRUE(codesign::signBundle(app, "com.kestro.TelvoServer", identity, 0, &error));
    int status = -1;
    std::string out = runHost(app, {"installed", app}, &status);
    EXPECT_EQ(status, 3) << out;
    EXPECT_NE(out.find("is not the maker's signed plug-in"), std::string::npos) << out;

    // Tampered after signing: one byte of the module.
    makeApplication(downloads());
    {
        std::fstream f(module, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0x2000);
        f.put('\x5a');
    }
    out = runHost(app, {"installed", app}, &status);
    EXPECT_EQ(status, 3) << out;
    EXPECT_NE(out.find("load error"), std::string::npos) << out;
}

TEST_F(SetupBundleTest, InstallFromDownloadsThenFromApplicationsThenUninstall) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is needed as the TLS peer";
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(downloads());
    const std::string owner = std::to_string(uid_) + ":" + std::to_string(gid_);

    // From "~/Downloads", nothing in "/Applications": one prompt, the helper blessed, reply 2.
    int status = -1;
    std::string out = runHost(app, {"install", app}, &status);
    EXPECT_EQ(status, 0) << out << launchd_->log();
    EXPECT_EQ(count(out, "reply "), 1u) << out;
    EXPECT_NE(out.find("reply 2\n"), std::string::npos) << out << launchd_->log();
    EXPECT_NE(out.find("location " + kInstalled + "\n"), std::string::npos) << out;
    EXPECT_EQ(prompts().size(), 1u);
    EXPECT_EQ(statOf(kHelperProgram), "544 0:0 regular file\n");
    EXPECT_EQ(statOf(kHelperJobFile), "644 0:0 regular file\n");
    EXPECT_TRUE(listed(kHelperLabel));
    EXPECT_EQ(statOf("/Applications"), "755 0:0 directory\n");
    EXPECT_EQ(statOf(kInstalled), "755 " + owner + " directory\n");
    EXPECT_EQ(statOf(kSupport + "/TelvoServerDaemon"), "755 0:0 regular file\n");
    EXPECT_FALSE(std::filesystem::exists(hostPath(home_ + "/.Trash/Telvo Server.app")));
    EXPECT_TRUE(waitUntil([&] { return agentPid() > 0; }, 60)) << launchctl(root_, {"list"}, uid_).output << aqua_->log();
    const std::string log = pluginLog();
    for (const char* line : {"Starting XPC Install", "installing helper", "install path /Applications/Telvo Server.app",
                             "current app path (null)", "Running install commands", "Running finalize command",
                             "Installation finished", "Reloading launch agent", "Sending install reply"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    // The daemon answers TLS.
    const std::string ready = ": Waiting for connections on port 5109.\n";
    auto daemonLog = [&] { return readHostFile(hostPath("/Library/Logs/TelvoServer.log")); };
    EXPECT_TRUE(waitUntil([&] { return daemonLog().find(ready) != std::string::npos; }, 60)) << daemonLog() << launchd_->log();
    std::string tls = output("echo | timeout 20 openssl s_client -connect 127.0.0.1:5109 2>&1");
    EXPECT_NE(tls.find("-----BEGIN CERTIFICATE-----"), std::string::npos) << tls;

    // From "/Applications" with the current location set: the helper is current, no prompt,
    // the seventeen steps, reply 1; with excludeAgent the agent keeps its process.
    const long agent = agentPid();
    out = runHost(kInstalled, {"install", kInstalled, "--current", kInstalled, "--exclude-agent"}, &status);
    EXPECT_NE(out.find("reply 1\n"), std::string::npos) << out << launchd_->log();
    EXPECT_EQ(count(out, "reply "), 1u) << out;
    EXPECT_EQ(prompts().size(), 1u);
    EXPECT_EQ(agentPid(), agent);

    // From "~/Downloads" again: the installed one goes to the Trash under a free name.
    std::filesystem::create_directories(hostPath(home_ + "/.Trash/Telvo Server.app"));
    ASSERT_EQ(std::system(("chown -R " + user_ + ": '" + hostPath(home_) + "/.Trash'").c_str()), 0);
    out = runHost(app, {"install", app}, &status);
    EXPECT_NE(out.find("reply 2\n"), std::string::npos) << out << launchd_->log();
    EXPECT_TRUE(std::filesystem::exists(hostPath(home_ + "/.Trash/Telvo Server (2).app/Contents/Info.plist")));
    EXPECT_EQ(statOf(kInstalled), "755 " + owner + " directory\n");

    // A cancelled uninstall: -1 before the call returns, and the agent runs again.
    setPolicy(std::string(kBlessRight) + " cancel\n");
    out = runHost(kInstalled, {"uninstall", kInstalled}, &status);
    EXPECT_NE(out.find("reply -1\nreturned\n"), std::string::npos) << out;
    EXPECT_TRUE(waitUntil([&] { return agentPid() > 0; }, 60)) << launchctl(root_, {"list"}, uid_).output;
    EXPECT_TRUE(listed(kHelperLabel));

    // Uninstall: asked every time; the tree, the helper and its job are gone; the application
    // is in the Trash; reply 1.
    setPolicy(std::string(kBlessRight) + " allow\n");
    size_t asked = prompts().size();
    out = runHost(kInstalled, {"uninstall", kInstalled}, &status);
    EXPECT_NE(out.find("reply 1\n"), std::string::npos) << out << launchd_->log();
    EXPECT_EQ(count(out, "reply "), 1u) << out;
    EXPECT_EQ(prompts().size(), asked + 1);
    EXPECT_FALSE(std::filesystem::exists(hostPath(kSupport)));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperProgram)));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperJobFile)));
    EXPECT_FALSE(listed(kHelperLabel));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kInstalled)));
    EXPECT_TRUE(std::filesystem::exists(hostPath(home_ + "/.Trash/Telvo Server (3).app")));
    EXPECT_EQ(agentPid(), 0);
}

TEST_F(SetupBundleTest, ARefusedAuthorizationAnswersBeforeTheCallReturnsAndStartsNoHelper) {
    for (const char* answer : {"deny", "cancel"}) {
        SCOPED_TRACE(answer);
        setPolicy(std::string(kBlessRight) + " " + answer + "\n");
        const std::string app = makeApplication(downloads());
        std::string out = runHost(app, {"install", app});
        EXPECT_NE(out.find("reply -1\nreturned\n"), std::string::npos) << out;
        EXPECT_EQ(count(out, "reply "), 1u) << out;
        EXPECT_FALSE(listed(kHelperLabel));
        EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperProgram)));
        EXPECT_NE(pluginLog().find("auth error"), std::string::npos) << pluginLog();
    }
}

TEST_F(SetupBundleTest, AFinishThatReportsFailedStepsAnswersMinusOne) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    // The daemon is missing from the plug-in's resources: its copy fails, "finish" says so.
    const std::string app = makeApplication(downloads(), kHelperLabel, false);
    std::filesystem::remove(hostPath(app + "/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon"));
    signApplication(app);
    ASSERT_EQ(std::system(("chown -R " + user_ + ": '" + hostPath(home_) + "'").c_str()), 0);
    std::string out = runHost(app, {"install", app});
    EXPECT_NE(out.find("reply -1\n"), std::string::npos) << out << launchd_->log();
    EXPECT_EQ(count(out, "reply "), 1u) << out;
    EXPECT_NE(pluginLog().find("The helper reported failed steps: "), std::string::npos) << pluginLog();
    // The plug-in's log files are named after its bundle.
    EXPECT_NE(output("ls '" + hostPath(home_) + "/Library/Logs/Telvo Server/SetupBundle'").find("com.kestro.telvoserver.SetupBundle"),
              std::string::npos);
}

TEST_F(SetupBundleTest, AnOlderHelperIsReplacedAfterAPromptAndAKilledHelperEndsTheInstallOnce) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    // Build 101 of the helper, blessed from an older application.
    const std::string older = makeApplication(home_ + "/Old/Telvo Server.app");
    {
        const std::string helper = hostPath(older + "/Contents/Library/LaunchServices/" + kHelperLabel);
        std::ifstream in(helper, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t at = bytes.find("<key>CFBundleVersion</key>\n\t<string>102</string>");
        ASSERT_NE(at, std::string::npos);
        bytes.replace(bytes.find("102", at), 3, "101");
        std::ofstream(helper, std::ios::binary | std::ios::trunc) << bytes;
        const codesign::SigningIdentity identity = TestPki::shared().identity("leaf", "devIdCA");
        ErrorPtr error;
        ASSERT_TRUE(codesign::signExecutable(older + "/Contents/Library/LaunchServices/" + kHelperLabel, kHelperLabel,
                                             identity, 0, &error));
        signApplication(older);
        ASSERT_EQ(std::system(("chown -R " + user_ + ": '" + hostPath(home_) + "'").c_str()), 0);
    }
    std::string out = runHost(older, {"bless", kHelperLabel});
    ASSERT_NE(out.find("bless ok"), std::string::npos) << out << launchd_->log();
    EXPECT_NE(output("strings '" + hostPath(kHelperProgram) + "'").find("<string>101</string>"), std::string::npos);
    const size_t asked = prompts().size();

    // The current application finds it of another version: asked again, blessed, installed.
    const std::string app = makeApplication(downloads());
    EXPECT_EQ(runHost(app, {"installed", app}), "installed no\n");
    auto host = this->host(app, {"install", app});
    // The helper is killed while it runs the list: one -1, and nothing connects again.
    std::regex running("(^|\\n)([0-9]+)\\t-?[0-9]+\\t" + std::string(kHelperLabel) + "\\n");
    std::smatch m;
    std::string list;
    ASSERT_TRUE(waitUntil([&] {
        list = launchctl(root_, {"list"}).output;
        return std::regex_search(list, m, running);
    }, 60)) << list << launchd_->log();
    // Once it runs the list (its log has begun: the connection was accepted, so a helper
    // started again would not find it waiting), stopped, and killed once no reply came.
    const pid_t helperPid = pid_t(std::stol(m[2]));
    const std::string helperLogs = hostPath(home_) + "/Library/Logs/Telvo Server/InstallerHelper";
    waitUntil([&] { return !output("cat '" + helperLogs + "'/*.log 2>/dev/null").empty() || host->has("reply "); }, 60);
    ::kill(helperPid, SIGSTOP);
    // A reply already on its way still arrives; a stopped helper sends nothing more.
    const bool midList = !host->waitFor("reply ", 2);
    ::kill(helperPid, SIGKILL);
    const int hostStatus = host->waitExit();
    out = host->output();
    EXPECT_TRUE(WIFEXITED(hostStatus) && WEXITSTATUS(hostStatus) == 0) << "host status " << hostStatus << ": " << out;
    EXPECT_EQ(prompts().size(), asked + 1);
    EXPECT_EQ(output("strings '" + hostPath(kHelperProgram) + "'").find("<string>101</string>"), std::string::npos);
    if (midList) {
        EXPECT_NE(out.find("reply -1\n"), std::string::npos) << out;
        EXPECT_EQ(count(out, "reply "), 1u) << out;
        // No new connection started the helper again.
        EXPECT_FALSE(waitUntil([&] { return std::regex_search(list = launchctl(root_, {"list"}).output, m, running); }, 3))
            << list;
    } else {
        // The list was through before the helper could be stopped.
        EXPECT_NE(out.find("reply 2\n"), std::string::npos) << out;
    }
    EXPECT_EQ(runHost(app, {"installed", app}), "installed yes\n");
}

}  // namespace
