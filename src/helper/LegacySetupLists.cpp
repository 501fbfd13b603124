#include "helper/LegacySetupLists.h"

namespace telvo::helper {

namespace {

HelperCommand step(const std::string& command, const std::string& file, const std::string& dest = {},
                   const std::string& owner = {}, const std::string& mode = {}) {
    ValueDictionary keys{{"file", Value(file)}};
    if (!dest.empty()) keys["dest"] = Value(dest);
    if (!owner.empty()) keys["chown"] = Value(owner);
    if (!mode.empty()) keys["chmod"] = Value(mode);
    return HelperCommand::make(command, keys);
}

constexpr const char* kSupport = "/Library/Application Support/Telvo Server/";
constexpr const char* kDaemonJob = "/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist";
constexpr const char* kAgentJob = "/Library/LaunchAgents/com.kestro.telvoserveragent.plist";

}  // namespace

std::vector<HelperCommand> legacyInstallList(const std::string& bundle) {
    const std::string resources = bundle + "/Contents/Resources/";
    const std::string support = kSupport;
    return {
        HelperCommand::make("config", {{"log", Value("~/Library/Logs/Telvo Server/InstallerHelper")}}),
        step("remove", support + "TelvoServerAgent"),
        step("unload-d", "/Library/LaunchDaemons/com.kestro.telvoserver.plist"),
        step("remove", "/Library/LaunchDaemons/com.kestro.telvoserver.plist"),
        step("unload-d", kDaemonJob),
        step("mkdir", "/Library/Application Support/"),
        step("mkdir", "/Library/LaunchDaemons/"),
        step("mkdir", "/Library/LaunchAgents/"),
        step("mkdir", support, {}, "root", "755"),
        // The daemon keeps its history in "databases"; on a case-sensitive file system
        // "Databases" would be another folder.
        step("mkdir", support + "databases/", {}, "root", "755"),
        step("copy", resources + "TelvoServerDaemon", support + "TelvoServerDaemon", "root", "755"),
        step("copy", resources + "TelvoServerAgent.app", support + "TelvoServerAgent.app", {}, "755"),
        step("copy", resources + "com.kestro.telvoserverdaemon.plist", kDaemonJob, "root", "644"),
        step("copy", resources + "com.kestro.telvoserveragent.plist", kAgentJob, "root", "644"),
        step("kill", "TelvoServerDaemon"),
        HelperCommand::make("sleep", {{"time", Value(0.5)}}),
        step("load-d", kDaemonJob),
    };
}

void appendApplicationCopy(std::vector<HelperCommand>& list, const std::string& application, const std::string& owner) {
    list.push_back(step("copy", application, kInstalledApplication, owner));
    list.push_back(step("touch", kInstalledApplication));
}

std::vector<HelperCommand> legacyUninstallList() {
    return {
        step("unload-d", kDaemonJob),
        step("remove", "/Library/Preferences/com.kestro.telvoserverbackend.plist"),
        step("remove", kAgentJob),
        step("remove", kDaemonJob),
        step("remove", kSupport),
        step("touch", "/Library/Application Support/"),
        step("touch", "/Library/LaunchAgents/"),
        step("touch", "/Library/LaunchDaemons/"),
        step("remove", "/Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper"),
    };
}

bool wantsUninstall(const std::vector<std::string>& arguments) {
    for (const auto& a : arguments)
        if (a == "uninstall") return true;
    return false;
}

}  // namespace telvo::helper
