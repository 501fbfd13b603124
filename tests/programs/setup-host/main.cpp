// The setup plug-in's host for its tests, run as a user from an application's executable:
//   setup-host bless <label> [--no-rights]      SMJobBless, the right asked for first
//   setup-host remove <label>                   SMJobRemove, the right asked for first
//   setup-host installed <application>          the plug-in's isHelperInstalled:
//   setup-host install <application> [--current <path>] [--exclude-agent]
//   setup-host uninstall <application>
// Protects itself first. Prints one line per outcome ("auth <status>", "bless ok", "bless
// error <text>", "reply <n>", "installed yes|no", "location <path>") and exits 0 after the
// operation's reply, or 3 when the plug-in could not be loaded.
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>
#include "platform/authorization/Authorization.h"
#include "platform/codesign/ProtectSelf.h"
#include "platform/launchd/ServiceManagement.h"
#include "setup/SetupBundleLoader.h"

using namespace telvo;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int rightsThen(const std::string& what, const std::string& label, bool askRights) {
    using namespace authorization;
    AuthorizationRef auth = nullptr;
    if (askRights) {
        AuthorizationRights rights{kSMRightBlessPrivilegedHelper};
        OSStatus status = AuthorizationCreate(&rights, kAuthorizationFlagsAskUser, &auth);
        say("auth " + std::to_string(status));
    }
    ErrorPtr error;
    bool ok = what == "bless" ? launchd::SMJobBless(launchd::kSMDomainSystemLaunchd, label, auth, &error)
                              : launchd::SMJobRemove(launchd::kSMDomainSystemLaunchd, label, auth, true, &error);
    say(what + (ok ? " ok" : " error " + (error ? error->message : std::string("?"))));
    if (auth) AuthorizationFree(auth, kAuthorizationFlagDefaults);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    codesign::protectSelf();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && (args[0] == "bless" || args[0] == "remove"))
        return rightsThen(args[0], args[1], !(args.size() > 2 && args[2] == "--no-rights"));
    if (args.size() < 2 || (args[0] != "installed" && args[0] != "install" && args[0] != "uninstall")) {
        std::fprintf(stderr, "usage: setup-host bless|remove <label> | installed|install|uninstall <application>\n");
        return 2;
    }
    const std::string& application = args[1];
    ErrorPtr error;
    setup::SetupBundlePlugin plugin = setup::loadSetupBundle(application, &error);
    if (!plugin) {
        say("load error " + (error ? error->message : std::string("?")));
        return 3;
    }
    setup::SetupBundleClient installer(plugin);
    if (args[0] == "installed") {
        say(std::string("installed ") + (installer.isHelperInstalled(application) ? "yes" : "no"));
        return 0;
    }
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--current" && i + 1 < args.size()) installer.setCurrentLocation(args[++i]);
        else if (args[i] == "--exclude-agent") installer.setExcludeAgent(true);
    }
    std::mutex mutex;
    std::condition_variable changed;
    int replies = 0;
    auto reply = [&](long value) {
        std::lock_guard<std::mutex> lock(mutex);
        say("reply " + std::to_string(value));
        ++replies;
        changed.notify_all();
    };
    if (args[0] == "install") installer.xpcInstallFromPath(application, reply);
    else if (args[0] == "uninstall") installer.xpcUninstallWithBundle(application, reply);
    else return 2;
    say("returned");
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return replies > 0; });
    }
    say("location " + installer.installLocation());
    installer.destroy();
    // A second reply would show up here.
    usleep(500 * 1000);
    return 0;
}
