// What the privileged helper runs for a caller: the steps of the install and uninstall lists
// on their fixed paths, the application copy and its Trash, owners and modes of the caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include "helper/HelperPolicy.h"
#include "helper/LegacySetupLists.h"

namespace telvo::helper {
namespace {

PeerUser user() {
    PeerUser u;
    u.uid = 1001;
    u.gid = 1001;
    u.name = "tvs";
    u.home = "/Users/tvs";
    u.groups = {1001, 27};
    return u;
}

HelperCommand command(const std::string& name, const ValueDictionary& keys) { return HelperCommand::make(name, keys); }

TEST(HelperPolicyTest, TheListsOfTheSetupPluginPass) {
    std::string why;
    const std::string application = "/Users/tvs/Downloads/Telvo Server.app";
    std::vector<HelperCommand> list = legacyInstallList(application + "/Contents/Resources/SetupBundle.bundle");
    list[0].set("log", Value("/Users/tvs/Library/Logs/Telvo Server/InstallerHelper"));
    list.push_back(command("trash", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value("/Users/tvs/.Trash")}}));
    list.push_back(command("copy", {{"file", Value(application)},
                                    {"dest", Value("/Applications/Telvo Server.app")},
                                    {"chown", Value("1001:1001")},
                                    {"chmod", Value("755")}}));
    list.push_back(command("touch", {{"file", Value("/Applications/Telvo Server.app")}}));
    for (const HelperCommand& c : legacyUninstallList()) list.push_back(c);
    list.push_back(command("finish", {{"reply", Value(true)}, {"cleanup", Value(true)}}));
    for (const HelperCommand& c : list) EXPECT_TRUE(permits(c, user(), why)) << c.dictionary().description() << why;
}

TEST(HelperPolicyTest, RefusesWhatTheListsDoNotHold) {
    const std::string resources = "/Users/tvs/Downloads/Telvo Server.app/Contents/Resources/SetupBundle.bundle/Contents/Resources/";
    struct Case {
        const char* what;
        HelperCommand command;
    };
    const std::vector<Case> cases = {
        {"config into another user's folder", command("config", {{"log", Value("/Users/other/Library/Logs/Telvo Server/InstallerHelper")}})},
        {"config elsewhere in the home", command("config", {{"log", Value("/Users/tvs/Logs")}})},
        {"system", command("system", {{"system", Value("id")}})},
        {"move", command("move", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value("/Users/tvs/.trash")}})},
        {"quarantine", command("quarantine", {{"file", Value("/Library/LaunchDaemons/")}})},
        {"mode 4755", command("copy", {{"file", Value(resources + "TelvoServerDaemon")},
                                       {"dest", Value("/Library/Application Support/Telvo Server/TelvoServerDaemon")},
                                       {"chown", Value("root")},
                                       {"chmod", Value("4755")}})},
        {"owner 0:0", command("mkdir", {{"file", Value("/Library/Application Support/Telvo Server/")},
                                        {"chown", Value("0:0")}})},
        {"owner of the caller with a group not its own",
         command("copy", {{"file", Value("/Users/tvs/Downloads/Telvo Server.app")},
                          {"dest", Value("/Applications/Telvo Server.app")},
                          {"chown", Value("1001:0")}})},
        {"remove /etc", command("remove", {{"file", Value("/etc")}})},
        {"remove through ..", command("remove", {{"file", Value("/Library/Application Support/Telvo Server/../../../etc")}})},
        {"mkdir elsewhere", command("mkdir", {{"file", Value("/etc/cron.d/")}})},
        {"copy a daemon over /etc/passwd", command("copy", {{"file", Value(resources + "TelvoServerDaemon")}, {"dest", Value("/etc/passwd")}})},
        {"copy of another resource to the daemon's place",
         command("copy", {{"file", Value(resources + "com.kestro.telvoserverdaemon.plist")},
                          {"dest", Value("/Library/Application Support/Telvo Server/TelvoServerDaemon")}})},
        {"copy from outside an application", command("copy", {{"file", Value("/Users/tvs/TelvoServerDaemon")},
                                                              {"dest", Value("/Library/Application Support/Telvo Server/TelvoServerDaemon")}})},
        {"copy of a part of an application to /Applications",
         command("copy", {{"file", Value(resources + "TelvoServerDaemon")}, {"dest", Value("/Applications/Telvo Server.app")}})},
        {"copy to another name in /Applications",
         command("copy", {{"file", Value("/Users/tvs/Downloads/Telvo Server.app")}, {"dest", Value("/Applications/Evil.app")}})},
        {"trash into another Trash", command("trash", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value("/Users/other/.Trash")}})},
        {"trash of /etc", command("trash", {{"file", Value("/etc")}, {"dest", Value("/Users/tvs/.Trash")}})},
        {"kill of another process", command("kill", {{"file", Value("sshd")}})},
        {"load of another job", command("load-d", {{"file", Value("/Library/LaunchDaemons/other.plist")}})},
        {"relative path", command("touch", {{"file", Value("Library/LaunchAgents/")}})},
        {"unknown command", command("format", {{"file", Value("/")}})},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(permits(c.command, user(), why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST(HelperPolicyTest, PathHelpers) {
    EXPECT_EQ(outermostApplication("/Users/u/Downloads/Telvo Server.app/Contents/Resources/A.app/x"),
              "/Users/u/Downloads/Telvo Server.app");
    EXPECT_EQ(outermostApplication("/Users/u/Downloads/file"), "");
    EXPECT_EQ(outermostApplication("/Users/u/../x.app"), "");
    EXPECT_TRUE(isApplicationsCopyTarget("/Applications/Telvo Server.app"));
    EXPECT_TRUE(isApplicationsCopyTarget("/Applications/Utilities/Telvo Server 2.app"));
    EXPECT_FALSE(isApplicationsCopyTarget("/Applications/Telvo Server.app/"));
    EXPECT_FALSE(isApplicationsCopyTarget("/Applications/../etc/Telvo Server.app"));
    EXPECT_FALSE(isApplicationsCopyTarget("/ApplicationsX/Telvo Server.app"));
    EXPECT_TRUE(isWholePath("/Library/LaunchAgents/"));
    EXPECT_FALSE(isWholePath("/Library//LaunchAgents"));
    EXPECT_FALSE(isWholePath("/Library/./LaunchAgents"));
}

}  // namespace
}  // namespace telvo::helper
