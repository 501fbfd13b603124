// The settings items' reads and writes, on both routes to the daemon.
#include "app/settings/TVSSettingsController.h"

#include <QAction>

#include "app/AliveGuard.h"
#include "app/connection/AdministratorRight.h"
#include "app/connection/TVSXPCAction.h"
#include "app/connection/TVSXPCConnection.h"

using namespace telvo::app;
#include "ui_MainMenu.h"

namespace telvo::app {

namespace {

bool serviceRoute() { return TVSXPCConnection::sharedXPCConnection().usesServiceRoute(); }

void ignore(const ErrorPtr&) {}

// A checkable item's click has already flipped its check mark: the handler gets the item
// with the mark put back, and flips it itself when it should.
void connectAsSender(QAction* action, TVSSettingsController* controller, void (TVSSettingsController::*handler)(QAction*)) {
    QObject::connect(action, &QAction::triggered, controller, [action, controller, handler](bool checked) {
        if (action->isCheckable()) action->setChecked(!checked);
        (controller->*handler)(action);
    });
}

}  // namespace

TVSSettingsController::TVSSettingsController(Ui::MainMenu& ui, QObject* parent)
    : QObject(parent), bonjour_(ui.actionBonjour), debug_(ui.actionDebug) {
    setObjectName(QStringLiteral("settingsController"));
    connectAsSender(ui.actionBonjour, this, &TVSSettingsController::toggleBonjour);
    connectAsSender(ui.actionResetAuthorizations, this, &TVSSettingsController::resetAuthorizations);
    connectAsSender(ui.actionDebug, this, &TVSSettingsController::toggleDebugging);
    awakeFromNib();
}

TVSSettingsController::~TVSSettingsController() {
    *alive_ = false;
    notify::NotificationCenter::defaultCenter().removeObserver(observer_);
}

void TVSSettingsController::awakeFromNib() {
    observer_ = notify::NotificationCenter::defaultCenter().addObserver(kSettingsUpdated, nullptr, nullptr,
                                                                        [this](const notify::Notification&) { settingsChange(); });
    settingsChange();
}

void TVSSettingsController::settingsChange() {
    updateBonjour();
    updateDebugging();
}

void TVSSettingsController::updateBonjour() {
    auto show = whileAlive(alive_, [this](const Value& enabled) { bonjour_->setChecked(enabled.intValue() != 0); });
    if (serviceRoute()) {
        TVSXPCAction([&](ServiceProxy& proxy) { proxy.objectForKey("bonjour enabled", show, ignore); });
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(
        Value(ValueDictionary{{"key", Value("preference")}, {"pkey", Value("bonjour enabled")}}), [show](const Value& reply) {
            if (!reply.isNull()) show(reply["value"]);
        });
}

void TVSSettingsController::toggleBonjour(QAction* sender) {
    if (!authorized()) return;
    sender->setChecked(!sender->isChecked());
    const int64_t state = sender->isChecked() ? 1 : 0;
    if (serviceRoute()) {
        TVSXPCAction([state](ServiceProxy& proxy) { proxy.call("setBonjourEnabled:", {Value(state)}, nullptr, ignore); });
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(
        Value(ValueDictionary{{"key", Value("setbonjour")}, {"value", Value(state)}}), nullptr);
}

void TVSSettingsController::resetAuthorizations(QAction*) {
    if (!authorized()) return;
    if (serviceRoute()) {
        TVSXPCAction([](ServiceProxy& proxy) { proxy.call("resetAuthorizations", {}, nullptr, ignore); });
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(Value(ValueDictionary{{"key", Value("resetauth")}}), nullptr);
}

void TVSSettingsController::toggleDebugging(QAction* sender) { sender->setChecked(!sender->isChecked()); }

}  // namespace telvo::app
