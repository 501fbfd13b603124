#include "app/ApplicationState.h"

#include <QGuiApplication>

#include "platform/defaults/UserDefaults.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo::app {

ApplicationState& ApplicationState::shared() {
    static ApplicationState state;
    return state;
}

bool ApplicationState::isActive() const {
    if (active_) return *active_;
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

int ApplicationState::controlTint() const {
    if (tint_) return *tint_;
    auto v = defaults::UserDefaults::standard().objectForKey("AppleAquaColorVariant");
    return v.isNumber() ? int(v.intValue()) : 1;
}

void ApplicationState::applicationStateChanged() {
    notify::NotificationCenter::defaultCenter().post(isActive() ? kDidBecomeActive : kDidResignActive);
}

void ApplicationState::setActiveForTesting(std::optional<bool> active) {
    active_ = active;
    applicationStateChanged();
}

void ApplicationState::setControlTintForTesting(std::optional<int> tint) { tint_ = tint; }

void ApplicationState::resetForTesting() {
    shared().active_.reset();
    shared().tint_.reset();
}

}  // namespace telvo::app
