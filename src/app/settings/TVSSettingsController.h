#pragma once
// The settings items of the application's menu: "Bonjour" (checked while the daemon publishes
// its DNS-SD advertisement; toggling it publishes or withdraws it), "Reset Authorizations"
// (the daemon forgets every authorised device, which must send the passcode again) and
// "Debug" (a check mark of this launch only). The first two ask for the administrator right
// first. The Bonjour item is read again after every connect. Main thread only.
#include <QObject>
#include <memory>

#include "platform/notify/NotificationCenter.h"

class QAction;

namespace Ui {
class MainMenu;
}

namespace telvo::app {

class TVSSettingsController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSettingsUpdated = "SettingsUpdated";

    // Takes the items of the main interface file and sets itself up (awakeFromNib).
    TVSSettingsController(Ui::MainMenu& ui, QObject* parent = nullptr);
    ~TVSSettingsController() override;

    void awakeFromNib();
    void settingsChange();
    void updateBonjour();
    void updateDebugging() {}

    // Actions; the sender is the item, whose state the menu has not changed.
    void toggleBonjour(QAction* sender);
    void resetAuthorizations(QAction* sender);
    void toggleDebugging(QAction* sender);

    QAction* bonjour() const { return bonjour_; }
    QAction* debug() const { return debug_; }

private:
    QAction* bonjour_;
    QAction* debug_;
    notify::ObserverToken observer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace telvo::app
