#pragma once
// What the drawing layer asks of the application as a whole: whether it is active, and the
// user's control tint ("AppleAquaColorVariant" of the global defaults; 6 is graphite).
// Changes of activity are posted on the default notification centre so that windows redraw
// their title bars. Tests set both through the overrides.
#include <optional>

namespace telvo::app {

class ApplicationState {
public:
    static constexpr int kGraphiteTint = 6;
    static constexpr const char* kDidBecomeActive = "NSApplicationDidBecomeActiveNotification";
    static constexpr const char* kDidResignActive = "NSApplicationDidResignActiveNotification";

    static ApplicationState& shared();

    // True when the application is the active one (the override when set).
    bool isActive() const;
    // The control tint: the override when set, else the user's global setting, else 1 (blue).
    int controlTint() const;
    bool isGraphite() const { return controlTint() == kGraphiteTint; }

    // Called when Qt reports an application state change: posts the matching notification.
    void applicationStateChanged();
    // Tests: fix activity (posting the change) or the tint; std::nullopt returns to the real one.
    void setActiveForTesting(std::optional<bool> active);
    void setControlTintForTesting(std::optional<int> tint);
    static void resetForTesting();

private:
    std::optional<bool> active_;
    std::optional<int> tint_;
};

}  // namespace telvo::app
