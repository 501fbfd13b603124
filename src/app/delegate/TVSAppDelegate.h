#pragma once
// The control application's delegate: the order of start-up, the main window with its own
// title bar and the table of the daemon's clients (asked for every second), the about window
// with the versions of the application, the daemon and the agent, and the menu actions that
// open and close the windows. It is the delegate of the shared connection to the daemon.
//
// Start-up runs applicationWillFinishLaunching() and then applicationDidFinishLaunching(),
// whose steps 5 and 12 (the update checker's window; update checker, installer and welcome
// window, port sheet) belong to other panels: they are hooks that those panels set before
// launch. Main thread only.
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "app/connection/TVSXPCConnectionDelegate.h"
#include "app/installer/InstallerDelegate.h"
#include "app/delegate/ClientsTableModel.h"
#include "app/window/INAppStoreWindow.h"
#include "app/window/TVSWindow.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/values/Value.h"

class QAction;
class QTableView;
class QWidget;

namespace telvo::notify {
class DistributedNotificationListener;
}

namespace Ui {
class MainMenu;
}

namespace telvo::app {

class ImageView;
class TVSImageButton;
class TVSLabel;
class TVSWindowControlsView;

class TVSAppDelegate : public QObject, public TVSXPCConnectionDelegate, public InstallerDelegate {
    Q_OBJECT
public:
    static constexpr const char* kAgentInfoPlist =
        "/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents/Info.plist";
    static constexpr const char* kAgentVersionRequest = "TelvoServerAgentVersionReqest";
    static constexpr const char* kAgentVersionResponse = "TelvoServerAgentVersionResponse";
    static constexpr const char* kUpgradeKey = "_upgrade_2.1";
    static constexpr const char* kWelcomeShownKey = "welcome shown";
    static constexpr double kPollInterval = 1;
    // A clients request not answered by then is given up and the poll goes on.
    static constexpr double kPollTimeout = 3;

    // Loads the main interface file and makes the windows (none shown yet).
    TVSAppDelegate();
    ~TVSAppDelegate() override;

    // The other panels' start-up steps, set before launch.
    struct LaunchHooks {
        std::function<void()> updateWindow;   // step 5
        std::function<void()> updateChecker;  // step 12.1
        std::function<void()> installer;      // step 12.2
        std::function<void()> portSheet;      // step 12.3
    };
    LaunchHooks& launchHooks() { return hooks_; }

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // Both redraw the title bar's controls (active or inactive look).
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    // The application quits when its last window closes.
    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    // The shared connection's delegate.
    void connected() override;
    void disconnected() override;

    // Menu and button actions.
    void about();
    void openMainWindow();
    void closeMainWindow();
    // The log viewer: started when it is not running, its window brought to the front.
    void log();
    // The port sheet (TVSPortController): re-read, hung on the main window, kept up to date.
    void editPorts();
    // The shared update checker, asked by the user.
    void checkForUpdates();
    // The installer's install or uninstall page in the overlay, installed or not.
    void reinstall();
    void uninstall();
    // The maker's pages in the default browser.
    void help();
    void portHelp();
    void rss();
    void kestro();
    void twitter();

    // The installer's reports.
    void installSuceeded() override;
    void installFailed() override;
    void uninstallCancelled() override;

    // The panels' start-up steps of this delegate's own: the update checker's window (5), the
    // update checker (12.1), the installer and the welcome window (12.2).
    void bringUpdateWindowToFront();
    void startUpdateChecker();
    void startInstaller();
    // The welcome window, once per user ("welcome shown").
    void showWelcomeOnce();

    // Step 7's texts, and the agent's answer to the version request.
    void loadVersion();
    void loadAgentVersion();
    void agentVersion(const Value& userInfo);
    // One round of the clients poll.
    void updateClients();
    // Rounds given up because the daemon did not answer in time.
    int pollRoundsTimedOut() const { return pollRoundsTimedOut_; }

    INAppStoreWindow* window() const { return window_; }
    TVSWindow* aboutWindow() const { return aboutWindow_; }
    TVSWindow* welcomeWindow() const { return welcomeWindow_; }
    TVSWindowControlsView* controls() const { return controls_; }
    TVSImageButton* closeBtn() const { return closeBtn_; }
    TVSImageButton* minimiseButton() const { return minimiseButton_; }
    QTableView* clientsTable() const;
    ImageView* connectionStatus() const;
    TVSLabel* aboutVersion() const;
    TVSLabel* aboutVersionDaemon() const;
    TVSLabel* aboutVersionAgent() const;
    ClientsTableModel& clients() { return clients_; }
    // The main interface file's objects (menus, actions) for the panels that answer them.
    Ui::MainMenu& ui() { return *ui_; }

private:
    void setUpTitleBarButtons();
    void setUpMainWindow();
    void replaceClientTableHeaders();
    void askDaemonVersion();
    void scheduleClientsPoll();

    std::unique_ptr<Ui::MainMenu> ui_;
    std::unique_ptr<QWidget> form_;  // holds the interface file's objects until placed
    QPointer<INAppStoreWindow> window_;
    QPointer<TVSWindow> aboutWindow_;
    QPointer<TVSWindow> welcomeWindow_;
    TVSWindowControlsView* controls_ = nullptr;
    TVSImageButton* closeBtn_ = nullptr;
    TVSImageButton* minimiseButton_ = nullptr;
    ClientsTableModel clients_;
    LaunchHooks hooks_;
    std::unique_ptr<notify::DistributedNotificationListener> agentListener_;
    std::vector<notify::ObserverToken> observers_;
    // Each poll round has a number; a late answer to an earlier round changes nothing.
    uint64_t pollRound_ = 0;
    int pollRoundsTimedOut_ = 0;
    // Cleared when the delegate goes, so that pending blocks of the main queue do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace telvo::app
