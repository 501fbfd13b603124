// The legacy tool's lists: which arguments uninstall, and the entries of each list.
#include <gtest/gtest.h>

#include "helper/LegacySetupLists.h"

using namespace telvo;
using namespace telvo::helper;

namespace {

TEST(LegacySetupListsTest, AnyArgumentUninstallUninstallsAndTheListsHaveTheirEntries) {
    struct Case {
        std::vector<std::string> args;
        bool uninstall;
    } cases[] = {
        {{"LegacySetupTool"}, false},
        {{"LegacySetupTool", "uninstall"}, true},
        {{"LegacySetupTool", "-v", "uninstall"}, true},
        {{"uninstall"}, true},
        {{"LegacySetupTool", "Uninstall", "install"}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(wantsUninstall(c.args), c.uninstall) << c.args.back();

    auto install = legacyInstallList("/Volumes/T/Telvo Server.app/Contents/Resources/SetupBundle.bundle");
    ASSERT_EQ(install.size(), 17u);
    EXPECT_EQ(install[0].command(), "config");
    EXPECT_EQ(install[9].text("file"), "/Library/Application Support/Telvo Server/databases/");
    EXPECT_EQ(install[10].text("file"),
              "/Volumes/T/Telvo Server.app/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon");
    EXPECT_EQ(install[11].text("chmod"), "755");
    EXPECT_FALSE(install[11].has("chown"));
    EXPECT_EQ(install[14].command(), "kill");
    EXPECT_EQ(install[15].dictionary()["time"].doubleValue(), 0.5);
    EXPECT_EQ(install[16].command(), "load-d");
    appendApplicationCopy(install, "/Volumes/T/Telvo Server.app", "4242:4343");
    ASSERT_EQ(install.size(), 19u);
    EXPECT_EQ(install[17].text("dest"), "/Applications/Telvo Server.app");
    EXPECT_EQ(install[17].text("chown"), "4242:4343");
    EXPECT_FALSE(install[17].has("chmod"));
    EXPECT_EQ(install[18].command(), "touch");

    auto uninstall = legacyUninstallList();
    ASSERT_EQ(uninstall.size(), 9u);
    EXPECT_EQ(uninstall[0].command(), "unload-d");
    EXPECT_EQ(uninstall[4].text("file"), "/Library/Application Support/Telvo Server/");
    EXPECT_EQ(uninstall[8].text("file"), "/Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper");
}

}  // namespace
