#include "app/delegate/Startup.h"

#include <QApplication>
#include <QPointer>
#include <atomic>

#include "app/ApplicationState.h"
#include "app/cells/ButtonCell.h"
#include "app/delegate/ScriptedActions.h"
#include "app/delegate/TVSAppDelegate.h"
#include "app/passcode/TVSPasscodeController.h"
#include "app/ports/TVSPortController.h"
#include "app/settings/TVSSettingsController.h"
#include "platform/dispatch/MainLoop.h"

using namespace telvo::app;
#include "ui_MainMenu.h"

namespace telvo::app {

namespace {

// One wake-up of Qt's event loop per burst of main-queue blocks.
std::atomic<bool> gWakeQueued{false};

void driveMainQueue(QApplication& app) {
    QPointer<QApplication> target(&app);
    dispatch::MainLoop::setWakeHandler([target] {
        if (gWakeQueued.exchange(true)) return;
        QApplication* a = target.data();
        if (!a) return;
        QMetaObject::invokeMethod(
            a,
            [] {
                gWakeQueued = false;
                dispatch::MainLoop::runPending();
            },
            Qt::QueuedConnection);
    });
    // Blocks queued before the handler was set.
    gWakeQueued = false;
    QMetaObject::invokeMethod(&app, [] { dispatch::MainLoop::runPending(); }, Qt::QueuedConnection);
}

}  // namespace

std::unique_ptr<TVSAppDelegate> startApplication(QApplication& app) {
    driveMainQueue(app);
    app.setQuitOnLastWindowClosed(TVSAppDelegate::applicationShouldTerminateAfterLastWindowClosed());
    auto delegate = std::make_unique<TVSAppDelegate>();
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, delegate.get(),
                     [d = delegate.get()](Qt::ApplicationState state) {
                         ApplicationState::shared().applicationStateChanged();
                         if (state == Qt::ApplicationActive)
                             d->applicationDidBecomeActive();
                         else
                             d->applicationDidResignActive();
                     });
    // The passcode panel, the settings items and the port sheet.
    TVSAppDelegate* d = delegate.get();
    new TVSPasscodeController(d->ui(), d->window(), d);
    new TVSSettingsController(d->ui(), d);
    d->launchHooks().portSheet = [d] {
        TVSPortController& ports = TVSPortController::sharedPorts();
        ports.placePortButton(d->ui().passcodeBar, QPoint(510, 10));
        QObject::connect(ports.portButton(), &QAbstractButton::clicked, d, &TVSAppDelegate::editPorts);
        d->ui().actionEditPorts->setEnabled(true);
    };
    QObject::connect(d->ui().actionEditPorts, &QAction::triggered, d, &TVSAppDelegate::editPorts);
    // The update checker, the installer with the welcome window, and the menu actions they and
    // the maker's pages answer. None is gated by the panels' administrator check.
    d->launchHooks().updateWindow = [d] { d->bringUpdateWindowToFront(); };
    d->launchHooks().updateChecker = [d] { d->startUpdateChecker(); };
    d->launchHooks().installer = [d] { d->startInstaller(); };
    const std::pair<QAction*, void (TVSAppDelegate::*)()> actions[] = {
        {d->ui().actionCheckForUpdates, &TVSAppDelegate::checkForUpdates},
        {d->ui().actionReinstall, &TVSAppDelegate::reinstall},
        {d->ui().actionUninstall, &TVSAppDelegate::uninstall},
        {d->ui().actionHelp, &TVSAppDelegate::help},
        {d->ui().actionPortHelp, &TVSAppDelegate::portHelp},
        {d->ui().actionRss, &TVSAppDelegate::rss},
        {d->ui().actionKestro, &TVSAppDelegate::kestro},
        {d->ui().actionTwitter, &TVSAppDelegate::twitter},
    };
    for (const auto& [action, slot] : actions) {
        action->setEnabled(true);
        QObject::connect(action, &QAction::triggered, d, slot);
    }
    ScriptedActions::startIfAsked();
    // End of the panels.
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    return delegate;
}

void stopApplication() {
    dispatch::MainLoop::setWakeHandler(nullptr);
    gWakeQueued = false;
}

int runApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Telvo Server"));
    int status;
    {
        std::unique_ptr<TVSAppDelegate> delegate = startApplication(app);
        status = app.exec();
    }
    stopApplication();
    return status;
}

}  // namespace telvo::app
