// One install or uninstall through the privileged helper.
#include "setup/SetupBundleInstaller.h"

#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include "foundation/logging/DDFileLogger.h"
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileManagerDefault.h"
#include "helper/HelperMessage.h"
#include "helper/LegacySetupLists.h"
#include "helper/ToolRun.h"
#include "helper/ToolTable.h"
#include "platform/codesign/ElfSection.h"
#include "platform/fs/Root.h"
#include "platform/launchd/ServiceManagement.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"

namespace telvo::setup {

namespace {

constexpr const char* kHelperOperation = "processCommand:reply:";
// How deep the walk of "/Applications" goes, and how many entries it looks at.
constexpr int kWalkDepth = 8;
constexpr size_t kWalkEntries = 100000;

#define INSTALLER_LOG(text) installerLog(__func__, __LINE__, (text))

// "CFBundleVersion" as an integer; nothing when it is no number.
std::optional<long long> bundleVersion(const Value& info) {
    const Value& v = info["CFBundleVersion"];
    if (v.isInteger()) return v.intValue();
    if (!v.isString() || v.string().empty()) return std::nullopt;
    char* end = nullptr;
    long long n = std::strtoll(v.string().c_str(), &end, 10);
    if (!end || *end != '\0') return std::nullopt;
    return n;
}

std::optional<long long> embeddedHelperVersion(const std::string& program) {
    ErrorPtr error;
    Value info = codesign::readEmbeddedPropertyListFromFile(program, codesign::kInfoSectionName, &error);
    if (!info.isDictionary()) return std::nullopt;
    return bundleVersion(info);
}

bool isPackage(const std::string& name) {
    for (const char* extension : {".app", ".bundle", ".framework", ".plugin", ".kext", ".pkg"}) {
        size_t n = std::char_traits<char>::length(extension);
        if (name.size() > n && name.compare(name.size() - n, n, extension) == 0) return true;
    }
    return false;
}

std::string dropComponents(std::string path, int count) {
    while (count-- > 0) {
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return {};
        path.erase(slash);
    }
    return path;
}

// The home folder as the components (and the helper) name it: a program started by launchd
// gets the passwd entry's folder as HOME, which is a host path when the file-system root is
// not "/".
std::string homeFolder() {
    const std::string home = fs::expandTilde("~");
    std::string logical;
    if (fs::root() != "/" && fs::logicalPath(home, logical)) return logical;
    return home;
}

void runLaunchctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{helper::hostTool("/bin/launchctl")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    helper::spawnAndWait(argv);
}

}  // namespace

void installerLog(const char* function, int line, const std::string& text) {
    SystemLog("%@", text);
    DDLog::log(true, 31, DDLogFlagInfo, 0, __FILE__, function, line, std::any(), "%@", text);
}

SetupBundleInstaller::SetupBundleInstaller()
    : queue(dispatch::Queue::createSerial("installerqueue")),
      xpcQueue(dispatch::Queue::createSerial("installerxpcqueue")) {
    auto manager = std::make_shared<DDLogFileManagerDefault>(fs::expandTilde(kLogFolder));
    manager->setMaximumNumberOfLogFiles(7);
    fileLogger = std::make_shared<DDFileLogger>(manager);
    fileLogger->setRollingFrequency(315360000);
    fileLogger->setMaximumFileSize(10485760);
    DDLog::addLogger(fileLogger);
}

SetupBundleInstaller::~SetupBundleInstaller() {
    if (connection_) {
        connection_->setInterruptionHandler(nullptr);
        connection_->setInvalidationHandler(nullptr);
    }
}

bool SetupBundleInstaller::isHelperInstalled(const std::string& path) {
    Value job = launchd::SMJobCopyDictionary(launchd::kSMDomainSystemLaunchd, kHelperLabel);
    if (!job.isDictionary()) return false;
    const Value& arguments = job["ProgramArguments"];
    if (!arguments.isArray() || arguments.array().empty() || !arguments.array()[0].isString()) return false;
    std::optional<long long> installed = embeddedHelperVersion(arguments.array()[0].string());
    std::optional<long long> offered =
        embeddedHelperVersion(path + "/Contents/Library/LaunchServices/" + std::string(kHelperLabel));
    return installed && offered && *installed == *offered;
}

bool SetupBundleInstaller::authorizeHelper() {
    using namespace authorization;
    AuthorizationRights rights{kSMRightBlessPrivilegedHelper};
    if (auth) {
        AuthorizationFree(auth, kAuthorizationFlagDefaults);
        auth = nullptr;
    }
    OSStatus status = AuthorizationCreate(&rights, kAuthorizationFlagsAskUser, &auth);
    if (status != errAuthorizationSuccess) {
        char line[96];
        std::snprintf(line, sizeof line, "Failed to create AuthorizationRef. Error code: %ld", long(status));
        INSTALLER_LOG(line);
        return false;
    }
    return true;
}

bool SetupBundleInstaller::startHelper() {
    ErrorPtr error;
    bool blessed = launchd::SMJobBless(launchd::kSMDomainSystemLaunchd, kHelperLabel, auth, &error);
    // Not looked at by the callers: a refused blessing shows up as a failed connection. Logged.
    if (!blessed) SystemLog("SMJobBless: %@", error ? error->message : std::string("failed"));
    return blessed;
}

std::optional<Bytes> SetupBundleInstaller::encryptDictionary(const helper::HelperCommand& command) const {
    return helper::encodeHelperMessage(command);
}

std::string SetupBundleInstaller::currentAppLocation() const {
    std::string best;
    long long bestVersion = -1;
    size_t seen = 0;
    // Depth first, names in order; links are never followed and packages never entered.
    std::function<void(const std::string&, int)> walk = [&](const std::string& folder, int depth) {
        DIR* dir = ::opendir(fs::resolve(folder).c_str());
        if (!dir) return;
        std::vector<std::string> names;
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            if (++seen > kWalkEntries) break;
            names.push_back(entry->d_name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            const std::string path = folder + "/" + name;
            struct stat st{};
            if (::lstat(fs::resolve(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            if (name.rfind("Telvo Server", 0) == 0) {
                ErrorPtr error;
                struct stat infoStat{};
                const std::string infoPath = path + "/Contents/Info.plist";
                if (::lstat(fs::resolve(infoPath).c_str(), &infoStat) == 0 && S_ISREG(infoStat.st_mode)) {
                    Value info = plist::readFile(infoPath, &error, 1 << 20);
                    if (info["CFBundleIdentifier"].string() == kApplicationIdentifier) {
                        long long version = bundleVersion(info).value_or(-1);
                        if (version > bestVersion || (version == bestVersion && name == "Telvo Server.app")) {
                            bestVersion = version;
                            best = path;
                        }
                    }
                }
            }
            if (!isPackage(name) && depth < kWalkDepth) walk(path, depth + 1);
        }
    };
    walk(helper::kApplicationsFolder, 1);
    return best.empty() ? std::string(helper::kInstalledApplication) : best;
}

void SetupBundleInstaller::loadAgent() { runLaunchctl({"load", "-w", "-S", "Aqua", kAgentJobFile}); }

void SetupBundleInstaller::unloadAgent() {
    if (fs::exists(kAgentJobFile)) runLaunchctl({"unload", "-S", "Aqua", kAgentJobFile});
}

std::vector<helper::HelperCommand> SetupBundleInstaller::installList(const std::string& application, bool& copied) {
    std::vector<helper::HelperCommand> list = helper::legacyInstallList(bundle);
    for (auto& c : list) {
        if (c.command() != "config") continue;
        const std::string log = c.text("log");
        c.set("log", Value(log.rfind("~/", 0) == 0 ? homeFolder() + log.substr(1) : log));
    }
    copied = false;
    installLocation = currentAppLocation();
    if (currentLocation && currentLocation->rfind("/Applications", 0) == 0) return list;
    INSTALLER_LOG("install path " + installLocation);
    INSTALLER_LOG("current app path " + currentLocation.value_or("(null)"));
    struct stat home{};
    char owner[48] = "";
    if (::stat(fs::resolve(homeFolder()).c_str(), &home) == 0)
        std::snprintf(owner, sizeof owner, "%d:%d", int(home.st_uid), int(home.st_gid));
    if (fs::exists(installLocation))
        list.push_back(helper::HelperCommand::make(
            "trash", {{"file", Value(installLocation)}, {"dest", Value(homeFolder() + "/.Trash")}}));
    // No "chmod": the application's seal covers the mode of every file in it, so the copy keeps
    // them (its folders and programs are 755 already) and the copy still passes its check.
    list.push_back(helper::HelperCommand::make("copy", {{"file", Value(application)},
                                                        {"dest", Value(installLocation)},
                                                        {"chown", Value(std::string(owner))}}));
    copied = true;
    return list;
}

std::vector<helper::HelperCommand> SetupBundleInstaller::uninstallList() {
    std::vector<helper::HelperCommand> list = helper::legacyUninstallList();
    // What a first install placed for polkit.
    for (const char* placed : {authorization::kPolicyInstallPath, authorization::kTrampolinePath})
        list.push_back(helper::HelperCommand::make("remove", {{"file", Value(placed)}}));
    installLocation = currentAppLocation();
    // Into the user's Trash (".Trash"), and only what is there.
    if (fs::exists(installLocation))
        list.push_back(helper::HelperCommand::make(
            "trash", {{"file", Value(installLocation)}, {"dest", Value(homeFolder() + "/.Trash")}}));
    return list;
}

void SetupBundleInstaller::replyNow(const Reply& reply, long value) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->replied) return;
        state_->replied = true;
    }
    if (reply) reply(value);
}

void SetupBundleInstaller::queueReply(const Reply& reply, long value) {
    std::shared_ptr<State> state = state_;
    queue->async([state, reply, value] {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->replied) return;
            state->replied = true;
        }
        if (reply) reply(value);
    });
}

bool SetupBundleInstaller::sendCommands(const helper::HelperCommand& finish, std::function<void()> finished,
                                        const Reply& reply, const char* finalizeLine) {
    connection_ = xpc::Connection::connectToService(kHelperLabel, xpc::Connection::kPrivileged);
    if (!connection_) {
        queueReply(reply, -1);
        return false;
    }
    std::weak_ptr<xpc::Connection> weak = connection_;
    std::shared_ptr<State> state = state_;
    dispatch::QueuePtr replies = queue;
    // An interrupted connection would connect to whatever helper answers next: it ends there,
    // before any call queued behind the interruption is sent.
    connection_->setReconnectsAfterInterruption(false);
    auto failed = [state, replies, reply](bool) {
        replies->async([state, reply] {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->replied) return;
                state->replied = true;
            }
            if (reply) reply(-1);
        });
    };
    connection_->setInterruptionHandler([failed] { failed(true); });
    connection_->setInvalidationHandler([failed] { failed(false); });
    connection_->resume();
    while (!commands.empty()) {
        helper::HelperCommand command = commands.front();
        commands.erase(commands.begin());
        std::optional<Bytes> message = encryptDictionary(command);
        if (!message) continue;
        connection_->call(kHelperOperation, {Value(*message)}, [](const Value&) {});
    }
    if (finalizeLine) INSTALLER_LOG(finalizeLine);
    std::optional<Bytes> message = encryptDictionary(finish);
    if (!message) {
        queueReply(reply, -1);
        return false;
    }
    connection_->call(kHelperOperation, {Value(*message)}, [weak, replies, state, reply, finished](const Value& answer) {
        if (auto c = weak.lock()) {
            c->setInterruptionHandler([] {});
            c->setInvalidationHandler([] {});
        }
        // Only the empty text says the list ran; a count of failed steps, or anything else, fails.
        bool ran = answer.isString() && answer.string().empty();
        replies->async([state, reply, finished, ran, answer] {
            if (!ran) {
                installerLog(__func__, __LINE__, "The helper reported failed steps: " + answer.stringValue());
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->replied) return;
                state->replied = true;
            }
            if (!ran) {
                if (reply) reply(-1);
                return;
            }
            finished();
        });
    });
    return true;
}

void SetupBundleInstaller::xpcInstallFromPath(const std::string& path, Reply reply) {
    INSTALLER_LOG("Starting XPC Install");
    bundle = path + "/Contents/Resources/SetupBundle.bundle";
    if (!isHelperInstalled(path)) {
        INSTALLER_LOG("installing helper");
        if (!authorizeHelper()) {
            INSTALLER_LOG("auth error");
            replyNow(reply, -1);
            return;
        }
        startHelper();
    }
    bool copied = false;
    commands = installList(dropComponents(bundle, 3), copied);
    INSTALLER_LOG("Running install commands");
    std::shared_ptr<State> state = state_;
    auto finished = [this, state, reply, copied] {
        INSTALLER_LOG("Installation finished");
        if (!excludeAgent) {
            INSTALLER_LOG("Reloading launch agent");
            unloadAgent();
            loadAgent();
        }
        INSTALLER_LOG("Sending install reply");
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->replied) return;
            state->replied = true;
        }
        if (reply) reply(copied ? 2 : 1);
    };
    helper::HelperCommand finish = helper::HelperCommand::make("finish", {{"reply", Value(true)}});
    sendCommands(finish, finished, reply, "Running finalize command");
}

void SetupBundleInstaller::xpcUninstallWithBundle(const std::string& path, Reply reply) {
    INSTALLER_LOG("Starting XPC Uninstall");
    bundle = path + "/Contents/Resources/SetupBundle.bundle";
    unloadAgent();
    if (!authorizeHelper()) {
        SystemLog("auth error");
        // Nothing was removed: the agent runs again.
        loadAgent();
        replyNow(reply, -1);
        return;
    }
    // The system instance notes the right for this process now, while our polkit actions are
    // there: the list takes them away before the helper's job is removed.
    authorization::OSStatus noted =
        launchd::askSystemInstanceForRight(authorization::kSMRightBlessPrivilegedHelper, false);
    if (noted != authorization::errAuthorizationSuccess)
        SystemLog("the system instance did not note the right: %@", authorization::statusMessage(noted));
    if (!isHelperInstalled(path)) startHelper();
    commands = uninstallList();
    std::shared_ptr<State> state = state_;
    auto finished = [this, state, reply] {
        // The helper's job goes with its program, before the reply.
        ErrorPtr error;
        if (!launchd::SMJobRemove(launchd::kSMDomainSystemLaunchd, kHelperLabel, auth, true, &error))
            SystemLog("SMJobRemove: %@", error ? error->message : std::string("failed"));
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->replied) return;
            state->replied = true;
        }
        if (reply) reply(1);
    };
    // A failed uninstall leaves the agent running.
    Reply failedOrDone = [this, reply](long value) {
        if (value == -1) loadAgent();
        if (reply) reply(value);
    };
    helper::HelperCommand finish =
        helper::HelperCommand::make("finish", {{"reply", Value(true)}, {"cleanup", Value(true)}});
    sendCommands(finish, finished, failedOrDone, nullptr);
}

void SetupBundleInstaller::destroy() {
    if (auth) authorization::AuthorizationFree(auth, authorization::kAuthorizationFlagDefaults);
    auth = nullptr;
}

}  // namespace telvo::setup
