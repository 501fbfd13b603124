#include "SetupFixture.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "codesign/TestPki.h"
#include "support/FreshInstallRoot.h"
#include "platform/codesign/Signer.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {

namespace {

const std::string kBundle = std::string(TELVO_BUNDLE_DIR) + "/Telvo Server.app";
const std::string kHost = std::string(TELVO_BINARY_DIR) + "/tests/programs/setup-host/setup-host";

int sh(const std::string& command) { return std::system(command.c_str()); }

std::string output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (pipe) pclose(pipe);
    return out;
}

}  // namespace

void SetupFixture::SetUp() {
    HelperFixture::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "blessing and installing need root for the system launcher and useradd";
    if (!TestPki::shared().ok) GTEST_SKIP() << "no test PKI: " << TestPki::shared().failure;
    TestUser user;
    ASSERT_TRUE(makeTestUser(root_, user));
    user_ = user.name;
    home_ = user.home;
    uid_ = user.uid;
    gid_ = user.gid;
    made_ = true;
    ASSERT_TRUE(installMakersAnchor(root_, TestPki::shared().pem("anchor")));
    std::filesystem::create_directories(hostPath("/etc/telvo/authorization"));
    ::chmod(hostPath("/etc/telvo/authorization").c_str(), 0755);
    std::filesystem::create_directories(hostPath("/Library"));
    ::chmod(hostPath("/Library").c_str(), 0755);
    ::chmod(hostPath("/Users").c_str(), 0755);
    setPolicy("");
    if (privateNetwork_) {
        std::string why;
        if (!enterPrivateNetworkAndBus(why)) GTEST_SKIP() << why;
    }
    launchd_ = std::make_unique<LaunchdProcess>(root_, 0, std::vector<std::string>{},
                                                std::vector<std::string>{"TELVO_NETSTATE_FILE=/nonexistent"});
    ASSERT_TRUE(launchd_->start()) << launchd_->log();
    if (userInstance_) {
        if (realAgent_) {
            // The agent's temporary folder: the user's own.
            const std::string tmp = hostPath(home_ + "/tmp");
            std::filesystem::create_directories(tmp);
            ::chmod(tmp.c_str(), 0700);
            EXPECT_EQ(::chown(tmp.c_str(), uid_, gid_), 0);
            aquaEnvironment_.push_back("TMPDIR=" + tmp);
        }
        aqua_ = std::make_unique<LaunchdProcess>(root_, uid_, std::vector<std::string>{}, aquaEnvironment_);
        ASSERT_TRUE(aqua_->start()) << aqua_->log();
    }
}

void SetupFixture::TearDown() {
    if (aqua_) aqua_->stop();
    aqua_.reset();
    if (launchd_) launchd_->stop();
    launchd_.reset();
    if (made_) removeTestUser(TestUser{user_, home_, uid_, gid_});
    HelperFixture::TearDown();
}

void SetupFixture::setPolicy(const std::string& lines) {
    const std::string file = hostPath("/etc/telvo/authorization/scripted.policy");
    std::ofstream(file, std::ios::trunc) << lines;
    ::chmod(file.c_str(), 0644);
}

std::vector<std::string> SetupFixture::prompts() const {
    std::vector<std::string> rights;
    std::ifstream in(hostPath("/var/run/telvo/authorization/prompts"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string right;
        if (words >> right) rights.push_back(right);
    }
    return rights;
}

std::string SetupFixture::makeApplication(const std::string& app, const std::string& helperIdentifier, bool sign,
                                          const std::string& from) {
    std::filesystem::create_directories(std::filesystem::path(hostPath(app)).parent_path());
    const std::string source = !from.empty() ? from : (sourceBundle_.empty() ? kBundle : sourceBundle_);
    EXPECT_EQ(sh("rm -rf '" + hostPath(app) + "' && cp -a '" + source + "' '" + hostPath(app) + "'" +
                 (ownExecutable_ ? std::string() : " && cp '" + kHost + "' '" + hostPath(app) + "/Contents/MacOS/Telvo Server'")),
              0);
    Value info = plist::readFile(app + "/Contents/Info.plist");
    info.set("CFBundleExecutable", Value("Telvo Server"));
    EXPECT_TRUE(plist::writeFile(info, app + "/Contents/Info.plist"));
    const codesign::SigningIdentity identity = TestPki::shared().identity("leaf", "devIdCA");
    ErrorPtr error;
    if (!helperIdentifier.empty()) {
        EXPECT_TRUE(codesign::signExecutable(app + "/Contents/Library/LaunchServices/" + kHelperLabel, helperIdentifier,
                                             identity, 0, &error))
            << (error ? error->message : "");
    }
    // The agent: a script that waits, unless the test runs the real one.
    const std::string agent = app + "/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerAgent.app";
    if (!realAgent_ && !ownAgent_) {
        std::ofstream(hostPath(agent + "/Contents/MacOS/TelvoServerAgent"), std::ios::trunc) << "#!/bin/sh\nexec sleep 100000\n";
        ::chmod(hostPath(agent + "/Contents/MacOS/TelvoServerAgent").c_str(), 0755);
    }
    if (sign) signApplication(app);
    // Everything the user has is the user's.
    EXPECT_EQ(sh("chown -R " + user_ + ": '" + hostPath(home_) + "'"), 0);
    return app;
}

void SetupFixture::signApplication(const std::string& app) {
    const codesign::SigningIdentity identity = TestPki::shared().identity("leaf", "devIdCA");
    ErrorPtr error;
    const std::string plugin = app + "/Contents/Resources/SetupBundle.bundle";
    if (realAgent_ || ownAgent_) {
        const std::string agent = plugin + "/Contents/Resources/TelvoServerAgent.app";
        EXPECT_TRUE(codesign::signExecutable(agent + "/Contents/MacOS/TelvoServerAgent", "com.kestro.TelvoServerAgent",
                                             identity, 0, &error))
            << (error ? error->message : "");
        EXPECT_TRUE(codesign::signBundle(agent, "com.kestro.TelvoServerAgent", identity, 0, &error))
            << (error ? error->message : "");
    }
    EXPECT_TRUE(codesign::signExecutable(plugin + "/Contents/MacOS/SetupBundle.so", "com.kestro.telvoserver.SetupBundle",
                                         identity, 0, &error))
        << (error ? error->message : "");
    EXPECT_TRUE(codesign::signBundle(plugin, "com.kestro.telvoserver.SetupBundle", identity, 0, &error))
        << (error ? error->message : "");
    EXPECT_TRUE(codesign::signExecutable(app + "/Contents/MacOS/Telvo Server", "com.kestro.TelvoServer", identity, 0, &error))
        << (error ? error->message : "");
    EXPECT_TRUE(codesign::signBundle(app, "com.kestro.TelvoServer", identity, 0, &error)) << (error ? error->message : "");
}

std::unique_ptr<helper::Client> SetupFixture::host(const std::string& app, const std::vector<std::string>& arguments) {
    return std::make_unique<helper::Client>(hostPath(app) + "/Contents/MacOS/Telvo Server", arguments,
                                            std::vector<std::string>{"TELVO_ROOT=" + root_, "HOME=" + home_}, uid_, gid_);
}

std::string SetupFixture::runHost(const std::string& app, const std::vector<std::string>& arguments, int* exitStatus) {
    auto h = host(app, arguments);
    int status = h->waitExit();
    if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return h->output();
}

std::string SetupFixture::statOf(const std::string& path) const {
    return output("stat -c '%a %u:%g %F' '" + hostPath(path) + "' 2>&1");
}

bool SetupFixture::listed(const std::string& label) const {
    return launchctl(root_, {"list"}).output.find("\t" + label + "\n") != std::string::npos;
}

}  // namespace telvo::testing
