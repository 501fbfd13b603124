// Blessing under real polkit, in this test's own mount namespace (tmpfs over /run/dbus, the
// rules and the actions folder; a system bus and polkitd of its own): a YES rule for the
// blesshelper action blesses the helper, NO makes the install answer -1 at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "SetupFixture.h"
#include "support/PrivatePolkit.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

class PolkitBlessTest : public SetupFixture {
protected:
    PolkitBlessTest() { privateNetwork_ = true; }
    void SetUp() override {
        SetupFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (const std::string why = PrivatePolkit::missing(false); !why.empty()) GTEST_SKIP() << why;
        // polkit answers, not the scripted backend.
        std::filesystem::remove(hostPath("/etc/telvo/authorization/scripted.policy"));
        PrivatePolkit::Options options;
        options.keepStockActions = true;
        std::string why;
        ASSERT_TRUE(polkit_.start(options, why)) << why;
    }
    void TearDown() override {
        polkit_.stop();
        SetupFixture::TearDown();
    }
    // The answer for the blesshelper action, and for polkit's stock action that runs a program
    // as root (pkexec of a program no action of ours names).
    void rule(const char* result, const char* execResult = "NO") {
        std::ostringstream text;
        text << PrivatePolkit::onlyAdministrator(user_) << "polkit.addRule(function(action, subject) {\n"
            << "    if (action.id == \"com.kestro.telvoserver.blesshelper\" && subject.user == \"" << user_ << "\")\n"
            << "        return polkit.Result." << result << ";\n"
            << "    if (action.id == \"org.freedesktop.policykit.exec\" && subject.user == \"" << user_ << "\")\n"
            << "        return polkit.Result." << execResult << ";\n});\n";
        ASSERT_TRUE(polkit_.useRules(text.str())) << "polkitd did not come up";
    }
    PrivatePolkit polkit_;
};

TEST_F(PolkitBlessTest, AYesRuleBlessesAndANoRuleAnswersMinusOne) {
    const std::string app = makeApplication(home_ + "/Downloads/Telvo Server.app");
    rule("YES");
    int status = -1;
    std::string out = runHost(app, {"bless", kHelperLabel}, &status);
    EXPECT_NE(out.find("auth 0\nbless ok\n"), std::string::npos) << out << launchd_->log();
    EXPECT_EQ(statOf(kHelperProgram), "544 0:0 regular file\n");
    EXPECT_TRUE(listed(kHelperLabel));
    ASSERT_EQ(runHost(app, {"remove", kHelperLabel}), "auth 0\nremove ok\n");
    // The job and its file are gone; the program is the uninstall list's to remove.
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperJobFile)));
    std::filesystem::remove(hostPath(kHelperProgram));

    rule("NO");
    out = runHost(app, {"install", app}, &status);
    EXPECT_NE(out.find("reply -1\nreturned\n"), std::string::npos) << out << launchd_->log();
    // Nor does the root side bless for a caller that polkit refuses.
    out = runHost(app, {"bless", kHelperLabel, "--no-rights"}, &status);
    EXPECT_NE(out.find("does not hold the right to bless helpers"), std::string::npos) << out;
    EXPECT_FALSE(listed(kHelperLabel));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperProgram)));
}

TEST_F(PolkitBlessTest, TheFirstInstallPlacesThePolicyAndTrampolineThroughTheStockActionOnce) {
    const std::string policy = "/usr/share/polkit-1/actions/com.kestro.telvoserver.policy";
    std::filesystem::remove(policy);
    // The trampoline's place, as the bundle's policy names it: inside this test's root.
    const std::string trampoline = hostPath("/usr/libexec/telvo/telvo-privileged-exec");
    const std::string app = makeApplication(home_ + "/Downloads/Telvo Server.app");
    {
        const std::string file = hostPath(app + "/Contents/Resources/com.kestro.telvoserver.policy");
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t at = text.find("/usr/libexec/telvo/telvo-privileged-exec");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, std::strlen("/usr/libexec/telvo/telvo-privileged-exec"), trampoline);
        std::ofstream(file, std::ios::trunc) << text;
        signApplication(app);
        ASSERT_EQ(std::system(("chown -R " + user_ + ": '" + hostPath(home_) + "'").c_str()), 0);
    }

    // Refused: nothing placed, -1 at once.
    rule("YES", "NO");
    std::string out = runHost(app, {"install", app});
    EXPECT_NE(out.find("reply -1\nreturned\n"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(policy));
    EXPECT_FALSE(std::filesystem::exists(trampoline));
    EXPECT_FALSE(std::filesystem::exists(hostPath("/usr/libexec/telvo")));

    // Allowed: both placed, root's, and the install completes with our actions.
    rule("YES", "YES");
    out = runHost(app, {"install", app});
    EXPECT_NE(out.find("reply 2\n"), std::string::npos) << out << launchd_->log();
    EXPECT_EQ(statOf(trampoline.substr(root_.size())), "755 0:0 regular file\n");
    struct stat st{};
    ASSERT_EQ(::stat(policy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_TRUE(listed(kHelperLabel));
    // The next request uses our actions: the stock action is not asked again.
    rule("YES", "NO");
    out = runHost(app, {"bless", kHelperLabel});
    EXPECT_NE(out.find("auth 0\nbless ok\n"), std::string::npos) << out;

    // The uninstall removes both (the helper's steps act under the test's root: the actions
    // folder is seen there too), and the helper's job still goes once our actions are gone.
    std::filesystem::create_directories(hostPath("/usr/share/polkit-1/actions"));
    ASSERT_EQ(::mount("/usr/share/polkit-1/actions", hostPath("/usr/share/polkit-1/actions").c_str(), nullptr, MS_BIND,
                      nullptr),
              0);
    rule("YES", "NO");
    out = runHost("/Applications/Telvo Server.app", {"uninstall", "/Applications/Telvo Server.app"});
    EXPECT_NE(out.find("reply 1\n"), std::string::npos) << out << launchd_->log();
    EXPECT_FALSE(std::filesystem::exists(policy));
    EXPECT_FALSE(std::filesystem::exists(trampoline));
    EXPECT_FALSE(listed(kHelperLabel)) << launchd_->log();
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperJobFile)));
    ::umount(hostPath("/usr/share/polkit-1/actions").c_str());
}

}  // namespace
