#include "agent/AppDelegate.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "agent/DownloadCheck.h"
#include "foundation/KXRVersions.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"
#include "platform/workspace/Workspace.h"
#include "platform/xpc/Interface.h"
#include "update/HttpTransfer.h"

namespace telvo::agent {
namespace {

constexpr double kRetryAfterFailure = 3600;
constexpr double kExitAfterInstall = 5;

struct ListenerBridge : xpc::ListenerDelegate {
    AppDelegate* owner;
    std::weak_ptr<bool> alive;
    ListenerBridge(AppDelegate* o, std::weak_ptr<bool> a) : owner(o), alive(std::move(a)) {}
    bool shouldAcceptNewConnection(xpc::Listener&, const xpc::ConnectionPtr& newConnection) override {
        auto wrapper = std::make_shared<TVSAgentXPCConnection>();
        wrapper->connection = newConnection;
        wrapper->delegate = owner;
        // The list of connections lives on the main queue.
        std::weak_ptr<bool> a = alive;
        AppDelegate* o = owner;
        dispatch::Queue::main()->async([a, o, wrapper] {
            auto living = a.lock();
            if (living && *living) o->connections.push_back(wrapper);
        });
        wrapper->start();
        return true;
    }
};

bool hasPackageExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    const std::string ext = name.substr(dot + 1);
    return ext == "app" || ext == "bundle" || ext == "pkg" || ext == "framework" || ext == "plugin";
}

void walkApplications(const std::string& folder, int depth, std::vector<std::string>& found) {
    if (depth > 16) return;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string path = folder + "/" + name;
        if (name.rfind("Telvo Server", 0) == 0) found.push_back(path);
        struct stat st;
        if (!hasPackageExtension(name) && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            walkApplications(path, depth + 1, found);
    }
}

}  // namespace

void TVSAgentXPCConnection::start() {
    auto interface = std::make_shared<xpc::Interface>("AgentProtocol");
    const float version = delegate ? delegate->version : AppDelegate::kVersion;
    const int build = delegate ? delegate->build : AppDelegate::kBuild;
    interface->add({"version:", {}, true, [version, build](const ValueArray&, const xpc::Reply& reply) {
                        reply(Value(ValueArray{Value(double(version)), Value(build)}));
                    }});
    connection->setExportedInterface(interface);
    std::weak_ptr<TVSAgentXPCConnection> weak = weak_from_this();
    auto ended = [weak](const char* line, bool interrupted) {
        SystemLog("%s", line);
        dispatch::Queue::main()->async([weak, interrupted] {
            auto self = weak.lock();
            if (!self || !self->connection) return;
            if (interrupted) self->connection->setInterruptionHandler(nullptr);
            else self->connection->setInvalidationHandler(nullptr);
            self->connection.reset();
            if (self->delegate) self->delegate->removeConnection(self);
        });
    };
    connection->setInterruptionHandler([ended] { ended("interruptionHandler", true); });
    connection->setInvalidationHandler([ended] { ended("invalidationHandler", false); });
    connection->resume();
}

AppDelegate::AppDelegate() : alive_(std::make_shared<bool>(true)) {
    exitProcess = [](int status) { dispatch::MainLoop::exitProcess(status); };
    notifications_.setActivationHandler([this](const std::string&) { didActivateNotification(); });
}

AppDelegate::~AppDelegate() {
    *alive_ = false;
    if (updateTimer) updateTimer->cancel();
    requests_.reset();
    if (listener) listener->invalidate();
    for (auto& c : connections)
        if (c->connection) c->connection->invalidate();
    if (engine && engine->delegate == this) engine->delegate = nullptr;
}

update::UpdateCheckerCore* AppDelegate::checker() {
    if (!engine) engine = update::UpdateCheckerCore::sharedUpdateChecker();
    return engine;
}

void AppDelegate::applicationDidFinishLaunching() {
    SystemLog("Loading telvo server agent");
    SystemLog("Telvo Server Agent version %.2f (%d)", double(version), build);
    if (!KXRVersions::sharedVersions().mountainLion()) return;

    connections.clear();
    listener = xpc::Listener::create(settings.serviceName);
    listenerDelegate_ = std::make_shared<ListenerBridge>(this, alive_);
    listener->setDelegate(listenerDelegate_);
    if (ErrorPtr error = listener->resume()) SystemLog("Agent service not started: %@", error->description());

    update::UpdateCheckerCore* core = checker();
    if (core) {
        core->delegate = this;
        core->feed = settings.feed;
        core->appName = "Telvo Server";
        core->userInitiated = false;
        core->currentVersion = version;
        core->currentVersionBuild = build;
        core->preferencesDomain = "com.kestro.TelvoServer";
        core->installMode = 0;
    }
    if (!settings.caFile.empty()) update::setCAFile(settings.caFile);

    notify::DistributedNotificationCenter::defaultCenter().postNotification(kAvailable);
    std::weak_ptr<bool> alive = alive_;
    requests_ = std::make_unique<notify::DistributedNotificationListener>(
        [this, alive](const notify::DistributedNotification& n) {
            if (n.name != kVersionRequest) return;
            dispatch::Queue::main()->async([this, alive] {
                auto living = alive.lock();
                if (living && *living) versionRequest();
            });
        },
        notify::DistributedNotificationListener::History::None);
    versionRequest();

    dispatch::Queue::main()->after(updateDelay, [this, alive] {
        auto living = alive.lock();
        if (living && *living) checkForUpdates();
    });
}

void AppDelegate::armTimer(double seconds) {
    if (updateTimer) updateTimer->cancel();
    updateTimer = dispatch::Source::createTimer(dispatch::Queue::main());
    std::weak_ptr<bool> alive = alive_;
    updateTimer->setEventHandler([this, alive] {
        auto living = alive.lock();
        if (living && *living) checkForUpdates();
    });
    updateTimer->scheduleAfter(seconds);
    updateTimer->resume();
}

void AppDelegate::checkForUpdates() {
    armTimer(updateInterval);
    if (auto* core = checker()) core->checkForUpdates();
}

void AppDelegate::versionRequest() {
    Value info{ValueDictionary{}};
    info.set("version", double(version));
    info.set("build", build);
    notify::DistributedNotificationCenter::defaultCenter().postNotification(kVersionResponse, info);
}

void AppDelegate::showUpdateNotification() {
    const float version = checker() ? checker()->newVersion : 0;
    notifications_.deliver("An Telvo Server update is available",
                           format("Telvo Server %.2f is now available. Click to update.", double(version)));
}

void AppDelegate::updateCheckerUpdatesAvailable(update::UpdateCheckerCore* core) {
    SystemLog("Update available %ld %ld", long(core->newVersionBuild), long(core->currentVersionBuild));
    if (core->updateInfo.has("manual")) showUpdateNotification();
    else core->downloadUpdate();
}

void AppDelegate::updateCheckerNoUpdatesAvailable(update::UpdateCheckerCore* core) {
    SystemLog("No Updates %ld %ld", long(core->newVersionBuild), long(core->currentVersionBuild));
}

void AppDelegate::updateCheckerDownloadComplete(update::UpdateCheckerCore* core) {
    const std::string path = core->payloadPath();
    if (!path.empty()) installFromPath(path);
    else showUpdateNotification();
}

void AppDelegate::updateCheckerFailedWithError(update::UpdateCheckerCore*, ErrorPtr) {
    armTimer(kRetryAfterFailure);
}

void AppDelegate::installFromPath(const std::string& path) {
    const int64_t offered = checker() ? checker()->newVersionBuild : 0;
    // Nothing of the download runs before it proved to be the maker's build that was offered.
    ErrorPtr why;
    if (!checkDownloadedApplication(path, offered, build, &why)) {
        SystemLog("Refusing the update at %@: %@", path, why ? why->message : "");
        showUpdateNotification();
        return;
    }
    installer = installerFactory ? installerFactory(path, offered) : nullptr;
    if (!installer) {
        SystemLog("No setup plug-in could be loaded from %@", path);
        showUpdateNotification();
        return;
    }
    if (!installer->isHelperInstalled(path)) {
        SystemLog("helper not installed");
        showUpdateNotification();
        return;
    }
    installer->setExcludeAgent(true);
    std::weak_ptr<bool> alive = alive_;
    installer->xpcInstallFromPath(path, [this, alive](long value) {
        dispatch::Queue::main()->async([this, alive, value] {
            auto living = alive.lock();
            if (!living || !*living) return;
            if (value == -1) {
                SystemLog("installation failed");
                if (installer) installer->destroy();
                showUpdateNotification();
                return;
            }
            SystemLog("installation successfull. Restarting self");
            auto* core = checker();
            notifications_.deliver("Telvo Server has been updated",
                                   format("Telvo Server %.2f (%ld) is now installed.", double(core ? core->newVersion : 0),
                                          long(core ? core->newVersionBuild : 0)));
            dispatch::Queue::main()->after(kExitAfterInstall, [this, alive] {
                auto l = alive.lock();
                if (l && *l) exitProcess(1);
            });
        });
    });
}

std::string AppDelegate::currentAppLocation() {
    std::vector<std::string> candidates;
    walkApplications(fs::resolve("/Applications"), 0, candidates);
    std::string best;
    int64_t bestVersion = -1;
    for (const auto& path : candidates) {
        Value info = plist::readFile(path + "/Contents/Info.plist");
        if (info["CFBundleIdentifier"].stringValue() != "com.kestro.telvoserver") continue;
        const int64_t version = info["CFBundleVersion"].intValue();
        const bool exactName = path.size() >= 17 && path.compare(path.size() - 17, 17, "/Telvo Server.app") == 0;
        if (version > bestVersion || (version == bestVersion && exactName)) {
            bestVersion = version;
            best = path;
        }
    }
    return best;
}

void AppDelegate::didActivateNotification() {
    std::string location = currentAppLocation();
    if (location.empty()) location = "Telvo Server.app";
    ErrorPtr error;
    if (workspace::launchApplication(location, 0, &error)) return;
    SystemLog("Could not start %@ (%@); opening %@", location, error ? error->message : "", settings.productPage);
    workspace::openURL(settings.productPage);
}

void AppDelegate::removeConnection(const std::shared_ptr<TVSAgentXPCConnection>& connection) {
    connections.erase(std::remove(connections.begin(), connections.end(), connection), connections.end());
}

}  // namespace telvo::agent
