// The port sheet's reads, writes and displays, on both routes to the daemon.
#include "app/ports/TVSPortController.h"

#include <QLineEdit>
#include <QTimer>
#include <mutex>

#include "app/AliveGuard.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/CheckboxCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/ImageViews.h"
#include "app/cells/LabelCell.h"
#include "app/connection/TVSXPCAction.h"
#include "app/connection/TVSXPCConnection.h"
#include "app/window/INAppStoreWindow.h"
#include "platform/dispatch/Queue.h"
#include "platform/notify/DistributedNotificationListener.h"

using namespace telvo::app;
#include "ui_Ports.h"

namespace telvo::app {

namespace {

std::mutex gSharedMutex;
TVSPortController* gShared = nullptr;

bool serviceRoute() { return TVSXPCConnection::sharedXPCConnection().usesServiceRoute(); }

void ignore(const ErrorPtr&) {}

Value request(const char* key, ValueDictionary fields = {}) {
    fields["key"] = Value(key);
    return Value(std::move(fields));
}

}  // namespace

TVSPortController& TVSPortController::sharedPorts() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = new TVSPortController();
    return *gShared;
}

bool TVSPortController::exists() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    return gShared != nullptr;
}

void TVSPortController::resetForTesting() {
    TVSPortController* old;
    {
        std::lock_guard<std::mutex> lock(gSharedMutex);
        old = gShared;
        gShared = nullptr;
    }
    delete old;
}

TVSPortController::TVSPortController() : ui_(std::make_unique<Ui::Ports>()), form_(std::make_unique<QWidget>()) {
    // 1. The interface file.
    ui_->setupUi(form_.get());
    sheet_ = ui_->portsSheet;
    sheet_->setParent(nullptr);
    sheet_->setObjectName(QStringLiteral("portsSheet"));
    sheet_->setAttribute(Qt::WA_StyledBackground);
    sheet_->setStyleSheet(QStringLiteral("#portsSheet { background: #f4f5f7; border: 1px solid #8e939b; }"));
    portButton_ = ui_->portButton;
    portButton_->setParent(nullptr);
    ui_->statusImage->setImageName(QStringLiteral("status-disabled"));
    ui_->upnpStatusImage->setImageName(QStringLiteral("status-disabled"));
    connect(ui_->savePort, &QAbstractButton::clicked, this, &TVSPortController::savePort);
    connect(ui_->saveUPNPPort, &QAbstractButton::clicked, this, &TVSPortController::saveUPNPPort);
    connect(ui_->done, &QAbstractButton::clicked, this, &TVSPortController::done);
    connect(ui_->cancel, &QAbstractButton::clicked, this, &TVSPortController::cancel);

    // 2. The daemon's notifications (taken to the main queue) and the connection's.
    daemonListener_ = std::make_unique<notify::DistributedNotificationListener>(
        [alive = std::weak_ptr<bool>(alive_), this](const notify::DistributedNotification& note) {
            const bool upnp = note.name == kDaemonUpnpUpdated;
            if (!upnp && note.name != kDaemonSocketUpdated) return;
            Value info = note.userInfo;
            dispatch::Queue::main()->async([alive, this, upnp, info] {
                auto live = alive.lock();
                if (!live || !*live) return;
                if (upnp)
                    upnpChange(info);
                else
                    portChange();
            });
        },
        notify::DistributedNotificationListener::History::None);
    auto& centre = notify::NotificationCenter::defaultCenter();
    observers_.push_back(centre.addObserver(kUpnpUpdated, nullptr, nullptr,
                                            [this](const notify::Notification& n) { upnpChange(n.userInfo); }));
    observers_.push_back(centre.addObserver(kSocketUpdated, nullptr, nullptr, [this](const notify::Notification&) { portChange(); }));

    // 3.
    updateUpnpMapping();
    updatePortDisplay();

    // 4. Works only while the sheet is open.
    updateTimer_ = new QTimer(this);
    updateTimer_->setInterval(int(kUpdateInterval * 1000));
    connect(updateTimer_, &QTimer::timeout, this, &TVSPortController::updatePorts);
    updateTimer_->start();
}

TVSPortController::~TVSPortController() {
    *alive_ = false;
    for (auto token : observers_) notify::NotificationCenter::defaultCenter().removeObserver(token);
    daemonListener_.reset();
    if (INAppStoreWindow* w = INAppStoreWindow::sheetParent(sheet_)) w->endSheet(sheet_);
    delete sheet_.data();
    delete portButton_.data();
}

QWidget* TVSPortController::window() const { return sheet_; }

TVSButton* TVSPortController::portButton() const { return portButton_; }

void TVSPortController::placePortButton(QWidget* parent, const QPoint& at) {
    if (!portButton_) return;
    portButton_->setParent(parent);
    portButton_->move(at);
    portButton_->show();
}

void TVSPortController::updatePorts() {
    if (!updatesEnabled_) return;
    updateUpnpMapping();
    updatePortDisplay();
}

long TVSPortController::listenerPort(const Value& preference) {
    const int64_t port = int32_t(preference.intValue());
    return port < 1024 || port > 65535 ? kDefaultPort : long(port);
}

void TVSPortController::showPort(const Value& preference) {
    const long port = listenerPort(preference);
    portButton_->setText(QStringLiteral("Port %1").arg(port));
    ui_->portField->setText(QString::number(port));
    ui_->statusField->setText(QStringLiteral("Running on port %1").arg(port));
}

void TVSPortController::showServerStatus(long status) {
    static const char* const images[] = {"status-disabled", "status-yellow", "status-red"};
    static const char* const texts[] = {"Server not running", "Starting server", "Unable to start server"};
    if (status >= 0 && status <= 2) {
        ui_->statusImage->setImageName(QString::fromLatin1(images[status]));
        ui_->statusField->setText(QString::fromLatin1(texts[status]));
        return;
    }
    if (status != 3) return;
    ui_->statusImage->setImageName(QStringLiteral("status-green"));
    // The text follows once the port is known.
    if (serviceRoute()) {
        TVSXPCAction([this](ServiceProxy& proxy) {
            proxy.objectForKey("port", whileAlive(alive_, [this](const Value& port) { showPort(port); }), ignore);
        });
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(
        request("preference", {{"pkey", Value("port")}}), whileAlive(alive_, [this](const Value& reply) {
            if (!reply.isNull()) showPort(reply["value"]);
        }));
}

void TVSPortController::updatePortDisplay() {
    if (serviceRoute()) {
        TVSXPCAction([this](ServiceProxy& proxy) {
            proxy.call("serverStatus:", {}, whileAlive(alive_, [this](const Value& status) { showServerStatus(long(status.intValue())); }),
                       ignore);
        });
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(request("serverstatus"), whileAlive(alive_, [this](const Value& reply) {
        if (!reply.isNull()) showServerStatus(long(reply["status"].intValue()));
    }));
}

void TVSPortController::portChange() { updatePortDisplay(); }

void TVSPortController::savePort() {
    // Sent as typed: the daemon reads a text outside 1024 to 65535 as 5109.
    const std::string text = ui_->portField->text().toStdString();
    if (serviceRoute())
        TVSXPCAction([&](ServiceProxy& proxy) { proxy.call("setServerPort:", {Value(text)}, nullptr, ignore); });
    else
        TVSXPCConnection::sharedXPCConnection().sendIPCRequest(request("setport", {{"port", Value(text)}}), nullptr);
    // While the listener restarts, and once it has.
    updatePortDisplay();
    dispatch::Queue::main()->after(kRedisplayDelay, whileAlive(alive_, [this] { updatePortDisplay(); }));
}

void TVSPortController::saveUPNPPort() {
    // The daemon's notifications redisplay the mapping.
    const int64_t state = ui_->upnpCheckbox->isChecked() ? 1 : 0;
    const std::string text = ui_->upnpPortField->text().toStdString();
    if (serviceRoute()) {
        TVSXPCAction([&](ServiceProxy& proxy) {
            proxy.setObjectForKey(Value(state), "map external port", ignore);
            proxy.call("setUpnpPort:", {Value(text)}, nullptr, ignore);
        });
        return;
    }
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    connection.sendIPCRequest(request("setpreference", {{"pkey", Value("map external port")}, {"value", Value(state)}}), nullptr);
    connection.sendIPCRequest(request("setupnpport", {{"port", Value(text)}}), nullptr);
}

void TVSPortController::endSheet() {
    if (INAppStoreWindow* w = INAppStoreWindow::sheetParent(sheet_)) w->endSheet(sheet_, 0);
    stopUpdating();
}

void TVSPortController::done() { endSheet(); }

void TVSPortController::cancel() { endSheet(); }

void TVSPortController::didEndSheet(int) {
    if (sheet_) sheet_->hide();
}

void TVSPortController::updateUpnpMapping() {
    if (serviceRoute()) {
        // Two independent blocks; each answer sets only its own fields.
        TVSXPCAction([this](ServiceProxy& proxy) {
            proxy.objectForKey("port external", whileAlive(alive_, [this](const Value& port) {
                ui_->upnpPortField->setText(QString::number(int(port.intValue())));
            }), ignore);
            proxy.objectForKey("map external port", whileAlive(alive_, [this](const Value& on) {
                ui_->upnpCheckbox->setChecked(on.intValue() != 0);
            }), ignore);
        });
        TVSXPCAction([this](ServiceProxy& proxy) {
            proxy.call("upnpStatus:", {}, whileAlive(alive_, [this](const Value& status) {
                TVSXPCAction([this, status](ServiceProxy& again) {
                    again.call("upnpPort:", {}, whileAlive(alive_, [this, status](const Value& port) {
                        updateUPNPStatus(long(status.intValue()), long(port.intValue()));
                    }), ignore);
                });
            }), ignore);
        });
        return;
    }
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    connection.sendIPCRequest(request("preference", {{"pkey", Value("map external port")}}),
                              whileAlive(alive_, [this](const Value& reply) {
                                  if (!reply.isNull()) ui_->upnpCheckbox->setChecked(reply["value"].intValue() != 0);
                              }));
    connection.sendIPCRequest(request("upnpstatus"), whileAlive(alive_, [this](const Value& reply) {
        if (reply.isNull()) return;
        const long port = long(reply["port"].intValue());
        ui_->upnpPortField->setText(QString::number(port == 0 ? kDefaultPort : port));
        updateUPNPStatus(long(reply["status"].intValue()), port);
    }));
}

void TVSPortController::updateUPNPStatus(long status, long port) {
    QString image, text;
    switch (status) {
        case 0: image = QStringLiteral("status-disabled"), text = QStringLiteral("Mapping disabled"); break;
        case 1: image = QStringLiteral("status-yellow"), text = QStringLiteral("Mapping in progress"); break;
        case 2: image = QStringLiteral("status-green"), text = QStringLiteral("Mapped to port %1").arg(port); break;
        case 3: image = QStringLiteral("status-red"), text = QStringLiteral("Port already in use"); break;
        case 4:
        case 5: image = QStringLiteral("status-red"), text = QStringLiteral("Error mapping port"); break;
        default: return;
    }
    ui_->upnpStatusImage->setImageName(image);
    ui_->upnpStatusField->setText(text);
}

void TVSPortController::upnpChange(const Value& userInfo) {
    ++upnpChanges_;
    if (userInfo.isDictionary() && userInfo.has("status"))
        updateUPNPStatus(long(userInfo["status"].intValue()), userInfo.has("port") ? long(userInfo["port"].intValue()) : 0);
    else
        updateUpnpMapping();
}

}  // namespace telvo::app
