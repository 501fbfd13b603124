#include "app/installer/Installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QProgressBar>
#include <QStackedWidget>
#include <map>
#include <mutex>

#include "app/Bundle.h"
#include "app/installer/DelayedMove.h"
#include "foundation/KXRVersions.h"
#include "helper/ToolRun.h"
#include "helper/ToolTable.h"
#include "platform/authorization/Authorization.h"
#include "platform/dispatch/Queue.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"
#include "platform/workspace/Workspace.h"
#include "setup/SetupBundleLoader.h"

using namespace telvo::app;
#include "ui_Installer.h"

namespace telvo::app {

namespace az = telvo::authorization;

namespace {

std::unique_ptr<std::once_flag> gOnce = std::make_unique<std::once_flag>();
Installer* gShared = nullptr;
// Plug-in objects whose reply had not come when their installer went (tests only): kept, since
// the plug-in still calls them.
std::vector<std::shared_ptr<setup::SetupBundleClient>>* gOrphans = nullptr;

bool beginsWith(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }

void runLaunchctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{helper::hostTool("/bin/launchctl")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int status = helper::spawnAndWait(argv);
    if (status != 0) SystemLog("launchctl %@ ended with status %d", arguments.front(), status);
}

// The new copy is touched by argument vector; a failure is logged and changes nothing else.
void touch(const std::string& location) {
    const std::string path = fs::resolve(location);
    int status = helper::spawnAndWait({"/usr/bin/touch", "-c", "--", path});
    if (status != 0) SystemLog("Could not touch %@ (status %d)", location, status);
}

// "~/.Trash" for the older route's old copy: made by this user with 0700 when missing; a
// link, or a file that is not this user's folder, is refused.
bool userTrash(std::string& logical) {
    logical = fs::expandTilde("~/.Trash");
    const std::string path = fs::resolve(logical);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

}  // namespace

Installer& Installer::sharedInstaller() {
    std::call_once(*gOnce, [] { gShared = new Installer(); });
    return *gShared;
}

bool Installer::exists() { return gShared != nullptr; }

void Installer::resetForTesting() {
    delete gShared;
    gShared = nullptr;
    gOnce = std::make_unique<std::once_flag>();
}

Installer::Installer() : ui_(std::make_unique<Ui::Installer>()) {
    view_ = new QWidget;
    ui_->setupUi(view_);
    tabs_ = ui_->tabs;
    progress_ = ui_->progress;
    // Install on the offer and the error page, uninstall and cancel on the uninstall offer (and
    // on its failure page), done on the completion page.
    connect(ui_->installButton, &QAbstractButton::clicked, this, &Installer::install);
    connect(ui_->retryButton, &QAbstractButton::clicked, this, &Installer::install);
    connect(ui_->uninstallButton, &QAbstractButton::clicked, this, &Installer::uninstall);
    connect(ui_->cancelUninstallButton, &QAbstractButton::clicked, this, &Installer::cancelUninstall);
    connect(ui_->uninstallRetryButton, &QAbstractButton::clicked, this, &Installer::uninstall);
    connect(ui_->uninstallFailedCancelButton, &QAbstractButton::clicked, this, &Installer::cancelUninstall);
    connect(ui_->doneButton, &QAbstractButton::clicked, this, &Installer::done);
}

Installer::~Installer() {
    *alive_ = false;
    if (!pending_.empty()) {
        if (!gOrphans) gOrphans = new std::vector<std::shared_ptr<setup::SetupBundleClient>>;
        for (auto& [operation, client] : pending_) gOrphans->push_back(client);
        if (installer_) gOrphans->push_back(installer_);
        installer_.reset();
    }
    delete view_.data();
}

std::string Installer::mainBundlePath() {
    const std::string host = bundlePath().toStdString();
    std::string logical;
    if (fs::logicalPath(host, logical)) return logical;
    return host;
}

long Installer::bundleVersion(const std::string& bundle) {
    Value info = plist::readFile(bundle + "/Contents/Info.plist");
    if (!info.isDictionary() || info["CFBundleVersion"].isNull()) return 0;
    return long(info["CFBundleVersion"].intValue());
}

bool Installer::isInstalledAndValid() {
    // 1. The plug-in this application carries.
    const long pluginBuild = bundleVersion(mainBundlePath() + "/Contents/Resources/" + kPluginResource);
    // 2. The installed agent.
    const long installedBuild = fs::exists(kAgentBundle) ? bundleVersion(kAgentBundle) : 0;
    // 3.
    if (pluginBuild > installedBuild) return false;
    // 4.
    return hasRequiredFiles();
}

bool Installer::hasRequiredFiles() {
    if (!fs::exists(kDaemonJobFile)) return false;
    for (const char* name : {"TelvoServerDaemon", "TelvoServerAgent.app"})
        if (!fs::exists(format(kSupportFolder, name))) return false;
    return true;
}

void Installer::selectPage(int page) { tabs_->setCurrentIndex(page); }

void Installer::showInstall() { selectPage(InstallPage); }
void Installer::showUninstall() { selectPage(UninstallPage); }
void Installer::showError() { selectPage(ErrorPage); }

void Installer::installFailed() {
    showError();
    if (delegate_) delegate_->installFailed();
}

void Installer::uninstallFailed() { selectPage(UninstallFailedPage); }

void Installer::done() {
    if (delegate_) delegate_->installSuceeded();
}

void Installer::cancelUninstall() {
    if (delegate_) delegate_->uninstallCancelled();
}

void Installer::startAnimation() {
    // A busy bar: no range.
    progress_->setRange(0, 0);
    animating_ = true;
}

void Installer::stopAnimation() {
    progress_->setRange(0, 1);
    progress_->setValue(0);
    animating_ = false;
}

void Installer::terminate() {
    if (terminate_) {
        terminate_();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

bool Installer::loadInstaller(bool logLines) {
    ErrorPtr error;
    setup::SetupBundlePlugin plugin = setup::loadSetupBundle(mainBundlePath(), &error);
    if (logLines) SystemLog("%@", "Initiating installer class");
    if (!plugin) {
        SystemLog("The setup plug-in was not loaded: %@", error ? error->message : std::string("unknown error"));
        return false;
    }
    auto client = std::make_shared<setup::SetupBundleClient>(plugin);
    if (!client->valid()) {
        SystemLog("%@", "The setup plug-in made no installer");
        return false;
    }
    installer_ = client;
    return true;
}

void Installer::install() {
    // 1.
    startAnimation();
    selectPage(InstallingPage);
    // 2. Page 1 is drawn before the plug-in is loaded.
    if (KXRVersions::sharedVersions().mountainLion()) {
        std::weak_ptr<bool> alive = alive_;
        dispatch::Queue::main()->after(kPluginStartDelay, [this, alive] {
            auto live = alive.lock();
            if (live && *live) pluginInstall();
        });
        return;
    }
    legacyRoute(false);
}

void Installer::pluginInstall() {
    SystemLog("%@", "Starting installation");
    const std::string application = mainBundlePath();
    SystemLog("%@ - %@", "Installer bundle", application + "/Contents/Resources/" + kPluginResource);
    if (!loadInstaller(true)) {
        stopAnimation();
        installFailed();
        return;
    }
    installer_->setCurrentLocation(application);
    SystemLog("%@ - %@", "Installing from path", application);
    const uint64_t operation = ++operation_;
    pending_[operation] = installer_;
    std::weak_ptr<bool> alive = alive_;
    installer_->xpcInstallFromPath(application, [this, alive, operation](long value) {
        // On the plug-in's queue (or here, for a refused authorization): to the main queue.
        dispatch::Queue::main()->async([this, alive, operation, value] {
            auto live = alive.lock();
            if (live && *live) pluginInstallFinished(operation, value);
        });
    });
}

std::shared_ptr<setup::SetupBundleClient> Installer::takeReply(uint64_t operation, long value) {
    auto it = pending_.find(operation);
    if (it == pending_.end()) return nullptr;
    std::shared_ptr<setup::SetupBundleClient> client = it->second;
    pending_.erase(it);
    if (operation != operation_) {
        // An operation the user started again meanwhile: its pages belong to the newer one.
        SystemLog("A reply (%ld) of an earlier operation came late", value);
        if (value == -1) client->destroy();
        return nullptr;
    }
    return client;
}

void Installer::pluginInstallFinished(uint64_t operation, long value) {
    std::shared_ptr<setup::SetupBundleClient> client = takeReply(operation, value);
    if (!client) return;
    if (value == -1) {
        SystemLog("%@", "Installer finished with error");
        client->destroy();
        installFailed();
        stopAnimation();
        return;
    }
    SystemLog("%@", "Installer succeeded");
    SystemLog("%@", "Touching new bundle");
    const std::string location = client->installLocation();
    touch(location);
    if (value == 2) {
        SystemLog("%@", "Launching new bundle");
        ErrorPtr error;
        if (workspace::launchApplication(location, kRelaunchDelay, &error)) {
            stopAnimation();
            terminate();
            return;
        }
        // The copy is in place but cannot start: this one stays, with the completion page.
        SystemLog("The new copy at %@ cannot be started: %@", location, error ? error->message : std::string());
    }
    selectPage(DonePage);
    stopAnimation();
}

void Installer::uninstall() {
    if (!KXRVersions::sharedVersions().mountainLion()) {
        legacyRoute(true);
        return;
    }
    if (!loadInstaller(false)) {
        uninstallFailed();
        return;
    }
    const uint64_t operation = ++operation_;
    pending_[operation] = installer_;
    std::weak_ptr<bool> alive = alive_;
    installer_->xpcUninstallWithBundle(mainBundlePath(), [this, alive, operation](long value) {
        dispatch::Queue::main()->async([this, alive, operation, value] {
            auto live = alive.lock();
            if (live && *live) pluginUninstallFinished(operation, value);
        });
    });
}

void Installer::pluginUninstallFinished(uint64_t operation, long value) {
    std::shared_ptr<setup::SetupBundleClient> client = takeReply(operation, value);
    if (!client) return;
    if (value == -1) {
        client->destroy();
        uninstallFailed();
        return;
    }
    terminate();
}

void Installer::legacyRoute(bool uninstalling) {
    auto fail = [this, uninstalling] {
        if (uninstalling) {
            uninstallFailed();
        } else {
            stopAnimation();
            installFailed();
        }
    };
    // 1. A bounded number of tries while the reference is denied.
    az::AuthorizationRef authorization = nullptr;
    az::OSStatus status = az::errAuthorizationDenied;
    for (int i = 0; i < kAuthorizationCreateTries && status == az::errAuthorizationDenied; ++i)
        status = az::AuthorizationCreate(nullptr, az::kAuthorizationFlagDefaults, &authorization);
    if (status != az::errAuthorizationSuccess) {
        SystemLog("No authorization reference: %@", az::statusMessage(status));
        fail();
        return;
    }
    // 2.
    status = az::AuthorizationCopyRights(authorization, {az::kAuthorizationRightExecute}, az::kAuthorizationFlagsAskUser);
    if (status != az::errAuthorizationSuccess) {
        SystemLog("The administrator right was not granted: %@", az::statusMessage(status));
        az::AuthorizationFree(authorization, az::kAuthorizationFlagDefaults);
        fail();
        return;
    }
    // 3.
    runLaunchctl({"unload", "-w", "-S", "Aqua", kAgentJobFile});
    // 4.
    const std::string tool = bundlePath().toStdString() + "/Contents/Resources/" + kLegacyTool;
    int exitStatus = -1;
    std::vector<std::string> arguments;
    if (uninstalling) arguments.push_back("uninstall");
    status = az::AuthorizationExecuteWithPrivilegesAndWait(authorization, tool, arguments, &exitStatus);
    const bool ran = status == az::errAuthorizationSuccess && exitStatus == 0;
    if (!ran)
        SystemLog("%@ did not finish: %@, exit status %d", kLegacyTool,
                  status == az::errAuthorizationSuccess ? std::string("ran") : std::string(az::statusMessage(status)), exitStatus);
    // 5.
    if (uninstalling) {
        az::AuthorizationFree(authorization, az::kAuthorizationFlagDefaults);
        if (!ran) {
            // Nothing said it was removed: the agent runs again.
            runLaunchctl({"load", "-w", "-S", "Aqua", kAgentJobFile});
            uninstallFailed();
            return;
        }
        terminate();
        return;
    }
    runLaunchctl({"load", "-w", "-S", "Aqua", kAgentJobFile});
    az::AuthorizationFree(authorization, az::kAuthorizationFlagDefaults);
    if (!ran) {
        fail();
        return;
    }
    const std::string application = mainBundlePath();
    if (beginsWith(application, "/Applications")) {
        stopAnimation();
        selectPage(DonePage);
        return;
    }
    ErrorPtr error;
    if (!workspace::launchApplication(kInstalledApplication, kRelaunchDelay, &error)) {
        SystemLog("The new copy at %@ cannot be started: %@", kInstalledApplication, error ? error->message : std::string());
        stopAnimation();
        selectPage(DonePage);
        return;
    }
    std::string trash;
    if (!userTrash(trash)) {
        SystemLog("%@ is not a folder of this user: the old copy stays at %@", trash, application);
    } else {
        Value info = plist::readFile(application + "/Contents/Info.plist");
        const double version = double(float(info["CFBundleShortVersionString"].doubleValue()));
        const std::string target = temporaryCopyNameForPath(trash + "/" + format("Telvo Server (%.2f).app", version));
        if (fs::exists(target))
            SystemLog("No free name in %@: the old copy stays at %@", trash, application);
        else if (!moveLater(fs::resolve(application), fs::resolve(target), beginsWith(application, "/Xcode"), kTrashDelay))
            SystemLog("Could not start moving %@ to %@", application, target);
    }
    stopAnimation();
    terminate();
}

std::string Installer::temporaryCopyNameForPath(const std::string& path) {
    // 1. Base and extension of the last component.
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    std::string base = path, extension;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
        base = path.substr(0, dot);
        extension = path.substr(dot + 1);
    }
    auto join = [&extension](const std::string& stem) { return extension.empty() ? stem : stem + "." + extension; };
    // 2.
    std::string candidate = join(base);
    if (!fs::exists(candidate)) return candidate;
    // 3.
    for (int n = 2; n <= 999999; ++n) {
        candidate = extension.empty() ? format("%@ %d", base, n) : format("%@ %d.%@", base, n, extension);
        if (!fs::exists(candidate)) return candidate;
    }
    return candidate;
}

}  // namespace telvo::app
