#pragma once
// The installer front end: decides at launch whether the daemon and the agent are installed
// and current, shows its six pages (offer, progress, error, uninstall offer, uninstall failed,
// done) in a view the application delegate puts in the overlay, and installs or uninstalls
// through the setup plug-in of the application's own bundle (verified before it is loaded),
// or on the older route through LegacySetupTool run with administrator rights. Main thread
// only: the plug-in's replies are taken to the main queue before a page or the delegate is
// touched.
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/installer/InstallerDelegate.h"

class QProgressBar;
class QStackedWidget;
class QWidget;

namespace Ui {
class Installer;
}

namespace telvo::setup {
class SetupBundleClient;
}

namespace telvo::app {

class Installer : public QObject {
    Q_OBJECT
public:
    enum Page { InstallPage = 0, InstallingPage = 1, ErrorPage = 2, UninstallPage = 3, UninstallFailedPage = 4, DonePage = 5 };
    static constexpr const char* kPluginResource = "SetupBundle.bundle";
    static constexpr const char* kLegacyTool = "LegacySetupTool";
    static constexpr const char* kAgentBundle = "/Library/Application Support/Telvo Server/TelvoServerAgent.app";
    static constexpr const char* kDaemonJobFile = "/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist";
    static constexpr const char* kSupportFolder = "/Library/Application Support/Telvo Server/%@";
    static constexpr const char* kAgentJobFile = "/Library/LaunchAgents/com.kestro.telvoserveragent.plist";
    static constexpr const char* kInstalledApplication = "/Applications/Telvo Server.app";
    static constexpr double kPluginStartDelay = 0.5;
    static constexpr double kRelaunchDelay = 1;
    static constexpr double kTrashDelay = 5;
    // How often an authorization reference is asked for while it answers denied.
    static constexpr int kAuthorizationCreateTries = 5;

    // Made once (std::call_once) with its interface file loaded.
    static Installer& sharedInstaller();
    static void resetForTesting();
    // Whether the shared instance was made.
    static bool exists();
    ~Installer() override;

    InstallerDelegate* delegate() const { return delegate_; }
    void setDelegate(InstallerDelegate* delegate) { delegate_ = delegate; }
    QStackedWidget* tabs() const { return tabs_; }
    QWidget* view() const { return view_; }
    QProgressBar* progress() const { return progress_; }
    // Whether the progress indicator is animating.
    bool isAnimating() const { return animating_; }

    bool isInstalledAndValid();
    bool hasRequiredFiles();

    void showInstall();
    void showUninstall();
    void showError();
    void installFailed();
    void uninstallFailed();

    // The interface file's actions.
    void install();
    void uninstall();
    void done();
    void cancelUninstall();

    // A free name for a copy of `path` (logical): the path itself, else "base n.ext" from 2.
    std::string temporaryCopyNameForPath(const std::string& path);

    // The running application's bundle, as the components name it (logical when it lies
    // under the file-system root).
    static std::string mainBundlePath();
    // "CFBundleVersion" of a bundle's Info.plist as an integer; 0 when missing.
    static long bundleVersion(const std::string& bundle);

    // Tests: the application's quit (default: QCoreApplication::quit, queued).
    void setTerminateForTesting(std::function<void()> terminate) { terminate_ = std::move(terminate); }

private:
    Installer();
    void startAnimation();
    void stopAnimation();
    void selectPage(int page);
    void terminate();
    // A new plug-in object of the main bundle's plug-in; false when it is missing, not the
    // maker's, or made none. An earlier object is kept until its reply came.
    bool loadInstaller(bool logLines);
    void pluginInstall();
    // The plug-in object of a reply, taken out of the pending ones; null when the reply is of
    // no pending operation or of an earlier one (logged; its object destroyed after -1).
    std::shared_ptr<setup::SetupBundleClient> takeReply(uint64_t operation, long value);
    void pluginInstallFinished(uint64_t operation, long value);
    void pluginUninstallFinished(uint64_t operation, long value);
    // Runs the older route; `uninstall` selects the tool's argument.
    void legacyRoute(bool uninstall);

    std::unique_ptr<Ui::Installer> ui_;
    QPointer<QWidget> view_;
    QStackedWidget* tabs_ = nullptr;
    QProgressBar* progress_ = nullptr;
    InstallerDelegate* delegate_ = nullptr;
    bool animating_ = false;
    // The plug-in object of the current operation; earlier ones whose reply is still to come.
    std::shared_ptr<setup::SetupBundleClient> installer_;
    std::map<uint64_t, std::shared_ptr<setup::SetupBundleClient>> pending_;
    uint64_t operation_ = 0;
    std::function<void()> terminate_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace telvo::app
