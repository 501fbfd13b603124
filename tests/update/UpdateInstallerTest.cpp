// Copying a new application into place: free names, the user route and the administrator route
// (on the scripted authorization backend, as root).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>

#include "HttpsTestServer.h"
#include "platform/authorization/Authorization.h"
#include "platform/authorization/ScriptedBackend.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "update/UpdateInstaller.h"

namespace telvo::update::test {
namespace {

class UpdateInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = makeTemporaryFolder("telvo-installer-");
        ASSERT_FALSE(root.empty());
        const char* home = std::getenv("HOME");
        if (home) savedHome = home;
        fs::createDirectories(root + "/home", 0700);
        setenv("HOME", (root + "/home").c_str(), 1);
    }
    void TearDown() override {
        if (!savedHome.empty()) setenv("HOME", savedHome.c_str(), 1);
        authorization::setTrampolineForTesting("");
        fs::setRootForTesting("");
        platform::Clock::resetForTesting();
        removeTree(root);
    }
    // A bundle folder with an Info.plist of that version and one file.
    void makeBundle(const std::string& path, const std::string& version, const std::string& marker) {
        fs::createDirectories(path + "/Contents/MacOS");
        writeText(path + "/Contents/Info.plist",
                  "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>" + version +
                      "</string></dict></plist>");
        writeText(path + "/Contents/MacOS/marker", marker);
    }
    void scriptedPolicy(const std::string& answer) {
        fs::setRootForTesting(root);
        authorization::setTrampolineForTesting(std::string(TELVO_BINARY_DIR) +
                                               "/programs/telvo-privileged-exec/telvo-privileged-exec");
        platform::Clock::useVirtual(1.8e9);
        fs::createDirectories(root + "/etc/telvo/authorization", 0755);
        writeText(root + authorization::scripted::kPolicyPath, "system.privilege.admin " + answer + "\n");
        chmod((root + authorization::scripted::kPolicyPath).c_str(), 0644);
    }
    std::string root;
    std::string savedHome;
};

TEST_F(UpdateInstallerTest, FreeNamesFollowTheirFormatsLiterally) {
    EXPECT_EQ(UpdateInstaller::escapeString("/A B/C&D (1)"), "/A\\ B/C\\&D\\ (1)");

    const std::string d = root + "/d";
    fs::createDirectories(d);
    EXPECT_EQ(UpdateInstaller::uniquePathForFile("/x/Telvo Server.app", d), d + "/Telvo Server.app");
    writeText(d + "/Telvo Server.app", "");
    writeText(d + "/Telvo Server (2).app", "");
    EXPECT_EQ(UpdateInstaller::uniquePathForFile("/x/Telvo Server.app", d + "/"), d + "/Telvo Server (3).app");
    writeText(d + "/README", "");
    EXPECT_EQ(UpdateInstaller::uniquePathForFile("/x/README", d), d + "/README (2).");

    makeBundle(d + "/App.app", "  270\n", "old");
    EXPECT_EQ(UpdateInstaller::newLocationForFile(d + "/App.app", d), d + "/App (270).app");
    makeBundle(d + "/App (270).app", "1", "x");
    EXPECT_EQ(UpdateInstaller::newLocationForFile(d + "/App.app", d), d + "/App (270)-1.app");
    EXPECT_EQ(UpdateInstaller::newLocationForFile(d + "/README", d), d + "/README (old).");
}

TEST_F(UpdateInstallerTest, QuarantineIsRemovedFromTheLinkItself) {
    const std::string file = root + "/f";
    writeText(file, "x");
    if (setxattr(file.c_str(), "user.com.apple.quarantine", "q", 1, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    symlink(file.c_str(), (root + "/link").c_str());
    EXPECT_EQ(UpdateInstaller::removeXAttr("com.apple.quarantine", "", 1), -1);
    UpdateInstaller::releaseFromQuarantine(root + "/link");
    char value[4];
    EXPECT_EQ(getxattr(file.c_str(), "user.com.apple.quarantine", value, sizeof value), 1);
    UpdateInstaller::releaseFromQuarantine(file);
    EXPECT_LT(getxattr(file.c_str(), "user.com.apple.quarantine", value, sizeof value), 0);
}

TEST_F(UpdateInstallerTest, UserRouteTrashesTheOldCopyOnlyAfterAGoodCopy) {
    const std::string apps = root + "/Applications";
    makeBundle(apps + "/Telvo Server.app", "270", "old");
    makeBundle(root + "/new/Telvo Server.app", "271", "new");
    ASSERT_TRUE(UpdateInstaller::copyPath(root + "/new/Telvo Server.app", apps + "/Telvo Server.app"));
    EXPECT_EQ(readText(apps + "/Telvo Server.app/Contents/MacOS/marker"), "new");
    EXPECT_EQ(readText(root + "/home/.Trash/Telvo Server (270).app/Contents/MacOS/marker"), "old");
    EXPECT_EQ(readText(root + "/new/Telvo Server.app/Contents/MacOS/marker"), "new");  // copied, not moved
    EXPECT_FALSE(fs::exists(apps + "/Telvo Server (270).app"));

    // A copy that fails puts the old copy back; the administrator route is refused here.
    if (geteuid() == 0) scriptedPolicy("deny");
    EXPECT_FALSE(UpdateInstaller::copyPath(root + "/missing.app", apps + "/Telvo Server.app"));
    EXPECT_EQ(readText(apps + "/Telvo Server.app/Contents/MacOS/marker"), "new");
    EXPECT_FALSE(fs::exists(apps + "/Telvo Server (271).app"));
}

TEST_F(UpdateInstallerTest, AdministratorRouteReplacesOrChangesNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "the scripted authorization backend serves root processes only";
    const std::string dest = root + "/Applications/Telvo Server.app";
    makeBundle(root + "/new/Telvo Server.app", "271", "new");

    scriptedPolicy("deny");
    EXPECT_FALSE(UpdateInstaller::authenticatedCopy(root + "/new/Telvo Server.app", dest));
    EXPECT_FALSE(fs::exists(root + "/Applications"));
    EXPECT_TRUE(fs::exists(root + "/new/Telvo Server.app"));

    // "/Applications" is made when missing; the source is moved into place.
    scriptedPolicy("allow");
    ASSERT_TRUE(UpdateInstaller::authenticatedCopy(root + "/new/Telvo Server.app", dest));
    EXPECT_EQ(readText(dest + "/Contents/MacOS/marker"), "new");
    EXPECT_FALSE(fs::exists(root + "/new/Telvo Server.app"));
    struct stat st;
    ASSERT_EQ(stat((root + "/Applications").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    // Over an existing copy: the old one goes to the user's Trash.
    makeBundle(root + "/newer/Telvo Server.app", "272", "newer");
    ASSERT_TRUE(UpdateInstaller::authenticatedCopy(root + "/newer/Telvo Server.app", dest));
    EXPECT_EQ(readText(dest + "/Contents/MacOS/marker"), "newer");
    EXPECT_EQ(readText(root + "/home/.Trash/Telvo Server.app/Contents/MacOS/marker"), "new");
    ASSERT_EQ(lstat((root + "/home/.Trash").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A failed step answers NO, and the copy in place stays.
    EXPECT_FALSE(UpdateInstaller::authenticatedCopy(root + "/nothing.app", dest));
    EXPECT_EQ(readText(dest + "/Contents/MacOS/marker"), "newer");
}

}  // namespace
}  // namespace telvo::update::test
