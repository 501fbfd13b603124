// The application delegate: start-up, the main window, the clients poll, the about window.
#include "app/delegate/TVSAppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QHeaderView>
#include <QMenuBar>
#include <QScreen>
#include <QTableView>
#include <optional>

#include "app/ApplicationState.h"
#include "app/Coordinates.h"
#include "app/cells/ClientsTableHeaderCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/ImageViews.h"
#include "app/cells/InstallButtonCell.h"
#include "app/cells/LabelCell.h"
#include "app/cells/TVSImageButton.h"
#include "app/connection/TVSXPCAction.h"
#include "app/connection/TVSXPCConnection.h"
#include "app/delegate/WebPages.h"
#include "app/drawing/Canvas.h"
#include "app/installer/Installer.h"
#include "app/log/TVSLog.h"
#include "app/overlay/OverlayController.h"
#include "app/ports/TVSPortController.h"
#include "app/update/UpdateChecker.h"
#include "app/window/INAppStoreWindow.h"
#include "app/window/TVSWindow.h"
#include "app/window/TVSWindowControlsView.h"
#include "foundation/ControlChannel.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/Queue.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"
#include "update/HttpTransfer.h"

using namespace telvo::app;
#include "ui_MainMenu.h"

namespace telvo::app {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The main window's content sits below the frame's own 22-point title bar; the form starts
// under the taller drawn one.
constexpr int kTitleBarHeight = 30;

}  // namespace

TVSAppDelegate::TVSAppDelegate() : ui_(std::make_unique<Ui::MainMenu>()), form_(std::make_unique<QWidget>()) {
    ui_->setupUi(form_.get());

    window_ = new INAppStoreWindow;
    window_->setObjectName(QStringLiteral("mainWindow"));
    window_->setWindowTitle(QStringLiteral("Telvo Server"));
    const int formTop = kTitleBarHeight - int(INAppStoreWindow::kMinimumTitleBarHeight);
    window_->resize(ui_->mainContent->width(), int(INAppStoreWindow::kMinimumTitleBarHeight) + formTop + ui_->mainContent->height());
    ui_->mainContent->setParent(window_->contentView());
    ui_->mainContent->move(0, formTop);
    ui_->mainContent->setAutoFillBackground(true);
    QPalette palette = ui_->mainContent->palette();
    palette.setColor(QPalette::Window, QColor(0xec, 0xee, 0xf1));
    ui_->mainContent->setPalette(palette);
    ui_->mainContent->show();

    aboutWindow_ = new TVSWindow;
    aboutWindow_->setObjectName(QStringLiteral("aboutWindow"));
    aboutWindow_->setWindowTitle(QStringLiteral("About Telvo Server"));
    aboutWindow_->resize(ui_->aboutContent->size());
    ui_->aboutContent->setParent(aboutWindow_);
    ui_->aboutContent->move(0, 0);
    ui_->aboutContent->show();
    ui_->aboutClose->setImage(QStringLiteral("traffic-close"));
    ui_->aboutClose->setAlternateImage(QStringLiteral("traffic-close-down"));
    connect(ui_->aboutClose, &QAbstractButton::clicked, aboutWindow_, &QWidget::close);

    welcomeWindow_ = new TVSWindow;
    welcomeWindow_->setObjectName(QStringLiteral("welcomeWindow"));
    welcomeWindow_->setWindowTitle(QStringLiteral("Welcome to Telvo Server"));
    welcomeWindow_->resize(ui_->welcomeContent->size());
    ui_->welcomeContent->setParent(welcomeWindow_);
    ui_->welcomeContent->move(0, 0);
    ui_->welcomeContent->show();
    connect(ui_->welcomeDone, &QAbstractButton::clicked, welcomeWindow_, &QWidget::close);

    ui_->clientsTable->setModel(&clients_);
    ui_->clientsTable->verticalHeader()->hide();
    ui_->connectionStatus->setImageName(QStringLiteral("notconnected"));

    connect(ui_->actionAbout, &QAction::triggered, this, &TVSAppDelegate::about);
    connect(ui_->actionOpenMainWindow, &QAction::triggered, this, &TVSAppDelegate::openMainWindow);
    connect(ui_->actionCloseMainWindow, &QAction::triggered, this, &TVSAppDelegate::closeMainWindow);
    connect(ui_->actionLog, &QAction::triggered, this, &TVSAppDelegate::log);
    connect(ui_->actionQuit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

TVSAppDelegate::~TVSAppDelegate() {
    *alive_ = false;
    agentListener_.reset();
    for (auto token : observers_) notify::NotificationCenter::defaultCenter().removeObserver(token);
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    if (connection.delegate() == this) connection.setDelegate(nullptr);
    if (Installer::exists() && Installer::sharedInstaller().delegate() == this) Installer::sharedInstaller().setDelegate(nullptr);
    if (OverlayController::sharedOverlayController().parentWindow() == window_) {
        // The pages shown in it are the installer's, not the window's to delete.
        OverlayController::sharedOverlayController().removeViews();
        OverlayController::sharedOverlayController().setParentWindow(nullptr);
    }
    delete window_.data();
    delete aboutWindow_.data();
    delete welcomeWindow_.data();
}

QTableView* TVSAppDelegate::clientsTable() const { return ui_->clientsTable; }
ImageView* TVSAppDelegate::connectionStatus() const { return ui_->connectionStatus; }
TVSLabel* TVSAppDelegate::aboutVersion() const { return ui_->aboutVersion; }
TVSLabel* TVSAppDelegate::aboutVersionDaemon() const { return ui_->aboutVersionDaemon; }
TVSLabel* TVSAppDelegate::aboutVersionAgent() const { return ui_->aboutVersionAgent; }

void TVSAppDelegate::applicationWillFinishLaunching() {
    // The agent's answer arrives on the listener's thread and is taken to the main queue.
    std::weak_ptr<bool> alive = alive_;
    agentListener_ = std::make_unique<notify::DistributedNotificationListener>(
        [this, alive](const notify::DistributedNotification& note) {
            if (note.name != kAgentVersionResponse) return;
            Value info = note.userInfo;
            dispatch::Queue::main()->async([this, alive, info] {
                auto live = alive.lock();
                if (live && *live) agentVersion(info);
            });
        },
        notify::DistributedNotificationListener::History::None);
}

void TVSAppDelegate::applicationDidFinishLaunching() {
    // 1.
    SystemLog("Telvo Server version %.2f (%i)", channel::kVersion, channel::kBuild);
    // 2.
    setUpTitleBarButtons();
    // 3.
    setUpMainWindow();
    // 4.
    clients_.clear();
    replaceClientTableHeaders();
    // 5.
    if (hooks_.updateWindow) hooks_.updateWindow();
    // 6.
    auto& defaults = defaults::UserDefaults::standard();
    if (defaults.objectForKey(kUpgradeKey).isNull()) {
        defaults.setObject(kUpgradeKey, Value(true));
        defaults.synchronize();
    }
    // 7.
    loadVersion();
    loadAgentVersion();
    // 8.
    notify::DistributedNotificationCenter::defaultCenter().postNotification(kAgentVersionRequest);
    // 9.
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    connection.setDelegate(this);
    connection.connect();
    // 10.
    askDaemonVersion();
    // 11.
    updateClients();
    // 12.
    if (hooks_.updateChecker) hooks_.updateChecker();
    if (hooks_.installer) hooks_.installer();
    if (hooks_.portSheet) hooks_.portSheet();
}

void TVSAppDelegate::setUpTitleBarButtons() {
    controls_ = new TVSWindowControlsView;
    controls_->setObjectName(QStringLiteral("controls"));
    const QString suffix = ApplicationState::shared().isGraphite() ? QStringLiteral("-graphite") : QString();
    closeBtn_ = new TVSImageButton(controls_);
    closeBtn_->setObjectName(QStringLiteral("closeBtn"));
    minimiseButton_ = new TVSImageButton(controls_);
    minimiseButton_->setObjectName(QStringLiteral("minimiseButton"));
    const char* bases[] = {"traffic-close", "traffic-minimise"};
    TVSImageButton* buttons[] = {closeBtn_, minimiseButton_};
    for (int i = 0; i < 2; ++i) {
        TVSImageButton* b = buttons[i];
        b->setGeometry(i * 20, 0, 14, 14);
        b->setImage(QString::fromLatin1(bases[i]));
        b->setAlternateImage(QString::fromLatin1(bases[i]) + QStringLiteral("-down") + suffix);
        b->setHoverImage(QString::fromLatin1(bases[i]) + QStringLiteral("-hover") + suffix);
        b->setPartOfHoverGroup(true);
    }
    connect(closeBtn_, &QAbstractButton::clicked, this, &TVSAppDelegate::closeMainWindow);
    connect(minimiseButton_, &QAbstractButton::clicked, this, [this] {
        if (window_) window_->miniaturize();
    });
}

void TVSAppDelegate::setUpMainWindow() {
    INAppStoreWindow* w = window_;
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, Qt::black);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
    // The content view is clear and clips its children.
    w->contentView()->setAutoFillBackground(false);
    w->setShowsBaselineSeparator(false);
    w->setTrafficLightButtonsLeftMargin(-100);
    w->setTitleBarHeight(kTitleBarHeight);
    controls_->setParent(w->titleBarView());
    controls_->move(10, int(qtY(9, controls_->height(), w->titleBarHeight())));
    controls_->show();
    w->setTitleBarDrawingBlock([](QPainter& p, bool, const QPainterPath& clip, const QRectF& rect) {
        p.setClipPath(clip);
        Canvas canvas(p);
        canvas.imageAtOrigin(QStringLiteral("window-titlebar"), rect.height());
    });
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w->move(screen->availableGeometry().center() - w->rect().center());
    w->show();
    w->raise();
    w->activateWindow();
    OverlayController::sharedOverlayController().setParentWindow(w);
}

void TVSAppDelegate::replaceClientTableHeaders() {
    // One header view paints every column's header cell with the column's title.
    auto* header = new TVSClientsTableHeaderView(ui_->clientsTable);
    header->setObjectName(QStringLiteral("clientsTableHeader"));
    ui_->clientsTable->setHorizontalHeader(header);
    header->setStretchLastSection(true);
    header->setSectionsClickable(false);
    header->show();  // the table is on screen already
    ui_->clientsTable->setColumnWidth(0, 150);
    ui_->clientsTable->setColumnWidth(1, 190);
    ui_->clientsTable->setColumnWidth(2, 90);
}

void TVSAppDelegate::applicationDidBecomeActive() {
    if (minimiseButton_ && minimiseButton_->parentWidget()) minimiseButton_->parentWidget()->update();
}

void TVSAppDelegate::applicationDidResignActive() {
    if (minimiseButton_ && minimiseButton_->parentWidget()) minimiseButton_->parentWidget()->update();
}

void TVSAppDelegate::connected() { ui_->connectionStatus->setImageName(QStringLiteral("connected")); }

void TVSAppDelegate::disconnected() { ui_->connectionStatus->setImageName(QStringLiteral("notconnected")); }

void TVSAppDelegate::loadVersion() {
    ui_->aboutVersion->setText(qs(format("Version %.2f (%i)", channel::kVersion, channel::kBuild)));
}

void TVSAppDelegate::loadAgentVersion() {
    ErrorPtr error;
    Value info = plist::readFile(kAgentInfoPlist, &error);
    if (error || !info.isDictionary()) {
        ui_->aboutVersionAgent->setText(QStringLiteral("Agent Version N/A"));
        return;
    }
    ui_->aboutVersionAgent->setText(qs(format("Agent Version %.2f (%@)", double(float(info["CFBundleShortVersionString"].doubleValue())),
                                              info["CFBundleVersion"].stringValue())));
}

void TVSAppDelegate::agentVersion(const Value& userInfo) {
    ui_->aboutVersionAgent->setText(qs(format("Agent Version %.2f (%@)", double(float(userInfo["version"].doubleValue())),
                                              userInfo["build"].stringValue())));
}

void TVSAppDelegate::askDaemonVersion() {
    std::weak_ptr<bool> alive = alive_;
    auto show = [this, alive](const std::string& version) {
        auto live = alive.lock();
        if (live && *live) ui_->aboutVersionDaemon->setText(qs(format("Daemon Version %@", version)));
    };
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    if (connection.usesServiceRoute()) {
        TVSXPCAction([show](ServiceProxy& proxy) {
            proxy.version([show](const Value& reply) {
                if (reply.isString()) show(reply.string());
            }, [](const ErrorPtr&) {});
        });
        return;
    }
    // The older route: the reply (to this request or to any later "version") also tells every
    // panel to re-read its state. Replies come on the main queue.
    connection.sendIPCRequest(Value(ValueDictionary{{"key", Value("version")}}), [show](const Value& reply) {
        if (reply.isNull()) return;
        show(reply["version"].stringValue());
        auto& center = notify::NotificationCenter::defaultCenter();
        for (const char* name : TVSXPCConnection::kUpdateNotifications) center.post(name);
    });
}

void TVSAppDelegate::updateClients() {
    const uint64_t round = ++pollRound_;
    std::weak_ptr<bool> alive = alive_;
    // Ends this round once: with the daemon's list (none empties the table), or without one
    // (no answer in time: the rows stay); then the next round follows a second later.
    auto finish = [this, alive, round](bool answered, const Value& list) {
        auto live = alive.lock();
        if (!live || !*live || round != pollRound_) return;
        ++pollRound_;  // a late answer to this round is dropped
        if (answered)
            clients_.setDaemonClients(list);
        else
            ++pollRoundsTimedOut_;
        scheduleClientsPoll();
    };
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    if (!connection.usesServiceRoute()) {
        connection.sendIPCRequest(Value(ValueDictionary{{"key", Value("clients")}}), [finish](const Value& reply) {
            finish(true, reply.isNull() ? Value() : reply["clients"]);
        });
        // A request the daemon never answers (its socket went away) does not end the poll.
        dispatch::Queue::main()->after(kPollTimeout, [finish] {
            static const Value none;
            finish(false, none);
        });
        return;
    }
    if (!connection.isConnected()) {
        finish(true, Value());
        return;
    }
    TVSXPCAction([finish](ServiceProxy& proxy) {
        proxy.clients([finish](const Value& list) { finish(true, list); },
                      [finish](const ErrorPtr& error) {
                          // Dropped: the table empties; not answered in time: the rows stay.
                          if (error && error->code == TVSXPCConnection::kTimedOut)
                              finish(false, Value());
                          else
                              finish(true, Value());
                      },
                      kPollTimeout);
    });
}

void TVSAppDelegate::scheduleClientsPoll() {
    std::weak_ptr<bool> alive = alive_;
    dispatch::Queue::main()->after(kPollInterval, [this, alive] {
        auto live = alive.lock();
        if (live && *live) updateClients();
    });
}

void TVSAppDelegate::about() {
    if (aboutWindow_->isVisible()) return;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        aboutWindow_->move(screen->availableGeometry().center() - aboutWindow_->rect().center());
    aboutWindow_->show();
    aboutWindow_->raise();
    aboutWindow_->activateWindow();
}

void TVSAppDelegate::openMainWindow() {
    window_->show();
    window_->activateWindow();
    window_->raise();
}

void TVSAppDelegate::closeMainWindow() { window_->close(); }

void TVSAppDelegate::log() {
    TVSLog& viewer = TVSLog::sharedLog();
    if (!viewer.enabled()) viewer.start();
    QWidget* logWindow = viewer.window();
    logWindow->show();
    logWindow->raise();
    logWindow->activateWindow();
}

void TVSAppDelegate::editPorts() {
    TVSPortController& ports = TVSPortController::sharedPorts();
    ports.updateUpnpMapping();
    const bool begun = window_->beginSheet(ports.window(), [](QWidget*, int code) {
        if (TVSPortController::exists()) TVSPortController::sharedPorts().didEndSheet(code);
    });
    if (begun) ports.startUpdating();
}

void TVSAppDelegate::checkForUpdates() {
    UpdateChecker* checker = UpdateChecker::sharedUpdateChecker();
    checker->userInitiated = true;
    checker->checkForUpdates();
}

void TVSAppDelegate::reinstall() {
    Installer& installer = Installer::sharedInstaller();
    installer.showInstall();
    OverlayController::sharedOverlayController().showWithView(installer.view());
}

void TVSAppDelegate::uninstall() {
    Installer& installer = Installer::sharedInstaller();
    installer.showUninstall();
    OverlayController::sharedOverlayController().showWithView(installer.view());
}

namespace {

void openPage(const std::string& address) {
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(address)))) SystemLog("Could not open %@", address);
}

}  // namespace

void TVSAppDelegate::help() { openPage(WebPages::page("https", "/help/telvo3/telvoservermac/")); }
void TVSAppDelegate::portHelp() { openPage(WebPages::page("http", "/help/telvo3/portforwarding/")); }
void TVSAppDelegate::rss() { openPage(WebPages::page("http", "/follow/")); }
void TVSAppDelegate::kestro() { openPage(WebPages::page("http", "")); }
void TVSAppDelegate::twitter() { openPage(WebPages::socialPage()); }

void TVSAppDelegate::installSuceeded() {
    OverlayController::sharedOverlayController().remove();
    showWelcomeOnce();
}

void TVSAppDelegate::installFailed() {}

void TVSAppDelegate::uninstallCancelled() { OverlayController::sharedOverlayController().remove(); }

void TVSAppDelegate::showWelcomeOnce() {
    auto& defaults = defaults::UserDefaults::standard();
    if (!defaults.objectForKey(kWelcomeShownKey).isNull()) return;
    defaults.setObject(kWelcomeShownKey, Value(true));
    defaults.synchronize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        welcomeWindow_->move(screen->availableGeometry().center() - welcomeWindow_->rect().center());
    welcomeWindow_->show();
    welcomeWindow_->raise();
    welcomeWindow_->activateWindow();
}

void TVSAppDelegate::bringUpdateWindowToFront() {
    UpdateChecker* checker = UpdateChecker::sharedUpdateChecker();
    for (QWidget* w : {checker->updateWindow, checker->downloadingWindow, checker->installWindow}) {
        if (w && w->isVisible()) {
            w->raise();
            w->activateWindow();
        }
    }
}

void TVSAppDelegate::startUpdateChecker() {
    UpdateChecker* checker = UpdateChecker::sharedUpdateChecker();
    checker->userInitiated = false;
    std::string caFile;
    checker->feed = WebPages::updateFeed(&caFile);
    if (!caFile.empty()) update::setCAFile(caFile);
    checker->currentVersion = 3.03f;
    checker->currentVersionBuild = 270;
    checker->installMode = 4;
    checker->installLocation = "/Applications";
    checker->checkForUpdates();
}

void TVSAppDelegate::startInstaller() {
    Installer& installer = Installer::sharedInstaller();
    installer.setDelegate(this);
    if (installer.isInstalledAndValid()) {
        showWelcomeOnce();
        return;
    }
    installer.showInstall();
    OverlayController::sharedOverlayController().showWithView(installer.view());
}

}  // namespace telvo::app
