#pragma once
// The port sheet: whether the daemon's server listens and on which port, the port moved, and
// the router mapping switched on and given its external port. It shows the daemon's two
// statuses as an image and a text, re-reads them on every mapping or socket notification
// (the daemon's and the connection's), after every reconnect, and every 5 s while the sheet is
// open. It stores nothing itself: every value comes from the daemon through the shared
// connection (the older route's socket when the service route is not used). One shared
// instance, made at the end of start-up and kept. Main thread only.
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "platform/notify/NotificationCenter.h"
#include "platform/values/Value.h"

class QTimer;
class QWidget;

namespace Ui {
class Ports;
}

namespace telvo::notify {
class DistributedNotificationListener;
}

namespace telvo::app {

class TVSButton;

class TVSPortController : public QObject {
    Q_OBJECT
public:
    static constexpr double kUpdateInterval = 5.0;
    // savePort's second look, once the listener has restarted.
    static constexpr double kRedisplayDelay = 2.0;
    static constexpr const char* kDaemonUpnpUpdated = "TelvoServerUpnpUpdated";
    static constexpr const char* kDaemonSocketUpdated = "TelvoServerSocketUpdated";
    static constexpr const char* kUpnpUpdated = "UpnpUpdated";
    static constexpr const char* kSocketUpdated = "SocketUpdated";
    // The port the daemon listens on when its preference is out of range.
    static constexpr long kDefaultPort = 5109;

    static TVSPortController& sharedPorts();
    // True once sharedPorts() made the instance.
    static bool exists();
    // Drops the shared instance (its sheet, button, timer and observers).
    static void resetForTesting();
    ~TVSPortController() override;

    // The sheet, and the button that shows the server port ("Port N"); the button has no place
    // until placePortButton() gives it one.
    QWidget* window() const;
    TVSButton* portButton() const;
    void placePortButton(QWidget* parent, const QPoint& at);
    Ui::Ports& ui() { return *ui_; }

    void startUpdating() { updatesEnabled_ = true; }
    void stopUpdating() { updatesEnabled_ = false; }
    bool updatesEnabled() const { return updatesEnabled_; }

    // The sheet's actions.
    void savePort();
    void saveUPNPPort();
    void done();
    void cancel();
    void didEndSheet(int returnCode);

    void updatePortDisplay();
    void updateUpnpMapping();
    void updateUPNPStatus(long status, long port);
    void portChange();
    void upnpChange(const Value& userInfo);
    // Mapping notifications handled so far (for tests).
    int upnpChanges() const { return upnpChanges_; }

    // The listener's port for a "port" preference: outside 1024 to 65535 (or not a number) it
    // is 5109, as the daemon reads it.
    static long listenerPort(const Value& preference);

private:
    TVSPortController();
    void updatePorts();
    void endSheet();
    void showServerStatus(long status);
    void showPort(const Value& preference);

    std::unique_ptr<Ui::Ports> ui_;
    std::unique_ptr<QWidget> form_;
    QPointer<QWidget> sheet_;
    QPointer<TVSButton> portButton_;
    QTimer* updateTimer_ = nullptr;
    bool updatesEnabled_ = false;
    int upnpChanges_ = 0;
    std::vector<notify::ObserverToken> observers_;
    std::unique_ptr<notify::DistributedNotificationListener> daemonListener_;
    // Cleared when the controller goes, so that replies and blocks still queued do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace telvo::app
