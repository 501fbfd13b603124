// The plug-in's lists and its choice of the installed application, in a private root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "HelperFixture.h"
#include "platform/values/PropertyList.h"
#include "setup/SetupBundleInstaller.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

class InstallListsTest : public HelperFixture {
protected:
    void application(const std::string& path, const std::string& identifier, const std::string& version) {
        std::filesystem::create_directories(host(path + "/Contents"));
        Value info(ValueDictionary{{"CFBundleIdentifier", Value(identifier)}, {"CFBundleVersion", Value(version)}});
        ASSERT_TRUE(plist::writeFile(info, path + "/Contents/Info.plist"));
    }
    std::string home() const { return root_ + "/Users/tester"; }
    // As the lists name it (and the helper checks it): HOME is the host path under a root.
    static std::string logicalHome() { return "/Users/tester"; }
};

TEST_F(InstallListsTest, TheInstalledApplicationIsTheNewestTelvoServerFoundWithoutLinksOrPackages) {
    setup::SetupBundleInstaller installer;
    EXPECT_EQ(installer.currentAppLocation(), "/Applications/Telvo Server.app");
    application("/Applications/Telvo Server 2.app", "com.kestro.telvoserver", "270");
    application("/Applications/Telvo Server.app", "com.kestro.telvoserver", "270");
    EXPECT_EQ(installer.currentAppLocation(), "/Applications/Telvo Server.app");
    // Newer ones that do not count: another identifier, hidden, inside a package, behind a link.
    application("/Applications/Telvo Server Other.app", "com.kestro.other", "900");
    application("/Applications/.Telvo Server Hidden.app", "com.kestro.telvoserver", "900");
    application("/Applications/Tools.app/Contents/Telvo Server.app", "com.kestro.telvoserver", "900");
    application("/Elsewhere/Telvo Server.app", "com.kestro.telvoserver", "900");
    std::filesystem::create_directory_symlink(host("/Elsewhere"), host("/Applications/Linked"));
    std::filesystem::create_directory_symlink(host("/Elsewhere/Telvo Server.app"), host("/Applications/Telvo Server Link.app"));
    EXPECT_EQ(installer.currentAppLocation(), "/Applications/Telvo Server.app");
    // A newer one in a folder below counts.
    application("/Applications/Utilities/Telvo Server Beta.app", "com.kestro.telvoserver", "271");
    EXPECT_EQ(installer.currentAppLocation(), "/Applications/Utilities/Telvo Server Beta.app");
}

TEST_F(InstallListsTest, TheInstallListTrashesAndCopiesOnlyWhenTheApplicationIsNotRunFromApplications) {
    struct stat st{};
    ASSERT_EQ(::stat(home().c_str(), &st), 0);
    const std::string owner = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
    const std::string downloads = "/Users/tester/Downloads/Telvo Server.app";
    setup::SetupBundleInstaller installer;
    installer.bundle = downloads + "/Contents/Resources/SetupBundle.bundle";
    bool copied = true;

    // No application in "/Applications": the copy, no trash.
    auto list = installer.installList(downloads, copied);
    ASSERT_EQ(list.size(), 18u);
    EXPECT_TRUE(copied);
    EXPECT_EQ(list[0].command(), "config");
    EXPECT_EQ(list[0].text("log"), logicalHome() + "/Library/Logs/Telvo Server/InstallerHelper");
    EXPECT_EQ(list[10].text("file"), installer.bundle + "/Contents/Resources/TelvoServerDaemon");
    EXPECT_EQ(list[17].command(), "copy");
    EXPECT_EQ(list[17].text("file"), downloads);
    EXPECT_EQ(list[17].text("dest"), "/Applications/Telvo Server.app");
    EXPECT_EQ(list[17].text("chown"), owner);
    EXPECT_FALSE(list[17].has("chmod")) << "the copied application keeps the modes its seal covers";
    EXPECT_EQ(installer.installLocation, "/Applications/Telvo Server.app");

    // One there: it goes to the user's Trash first.
    application("/Applications/Telvo Server.app", "com.kestro.telvoserver", "260");
    list = installer.installList(downloads, copied);
    ASSERT_EQ(list.size(), 19u);
    EXPECT_EQ(list[17].command(), "trash");
    EXPECT_EQ(list[17].text("file"), "/Applications/Telvo Server.app");
    EXPECT_EQ(list[17].text("dest"), logicalHome() + "/.Trash");
    EXPECT_EQ(list[18].command(), "copy");

    // Run from "/Applications": the seventeen steps only.
    installer.setCurrentLocation("/Applications/Telvo Server.app");
    list = installer.installList("/Applications/Telvo Server.app", copied);
    EXPECT_EQ(list.size(), 17u);
    EXPECT_FALSE(copied);
    EXPECT_EQ(list[16].command(), "load-d");
}

TEST_F(InstallListsTest, TheUninstallListEndsWithTheApplicationInTheUsersTrash) {
    setup::SetupBundleInstaller installer;
    auto list = installer.uninstallList();
    ASSERT_EQ(list.size(), 11u);
    EXPECT_EQ(list[8].text("file"), "/Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper");
    EXPECT_EQ(list[9].text("file"), "/usr/share/polkit-1/actions/com.kestro.telvoserver.policy");
    EXPECT_EQ(list[10].text("file"), "/usr/libexec/telvo/telvo-privileged-exec");
    application("/Applications/Telvo Server.app", "com.kestro.telvoserver", "270");
    list = installer.uninstallList();
    ASSERT_EQ(list.size(), 12u);
    EXPECT_EQ(list[11].command(), "trash");
    EXPECT_EQ(list[11].text("dest"), logicalHome() + "/.Trash");
}

TEST_F(InstallListsTest, WithoutTheLauncherTheHelperCountsAsMissing) {
    setup::SetupBundleInstaller installer;
    EXPECT_FALSE(installer.isHelperInstalled("/Users/tester/Downloads/Telvo Server.app"));
}

}  // namespace
