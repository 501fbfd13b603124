#pragma once
// Shows one page centred over the dimmed main window: the overlay fades in over 0.1 s when it
// appears, a second page replaces the first at once, and remove() fades it out over 0.2 s
// and then detaches it and takes its page out. A show during the fade-out cancels it, so the
// new page stays. The pages belong to their callers: the overlay never deletes them.
// Main thread only.
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

#include "app/overlay/OverlayWindow.h"

namespace telvo::app {

class OverlayController {
public:
    static constexpr int kFadeInMs = 100;
    static constexpr int kFadeOutMs = 200;

    static OverlayController& sharedOverlayController();
    ~OverlayController();

    QWidget* parentWindow() const { return parent_; }
    void setParentWindow(QWidget* window) { parent_ = window; }

    void showWithView(QWidget* view);
    void remove();
    void removeViews();

    OverlayWindow* window();
    // True while attached to the parent window (from a show until a fade-out completes).
    bool isShowing() const { return attached_; }
    QPropertyAnimation* fadeIn() { return window(), fadeIn_; }
    QPropertyAnimation* fadeOut() { return window(), fadeOut_; }
    // How many times the overlay was attached to a parent (for tests).
    int attachCount() const { return attachCount_; }

    static void resetForTesting();

private:
    OverlayController() = default;
    void finishFadeOut();

    QPointer<QWidget> parent_;
    QPointer<OverlayWindow> window_;
    QPointer<QPropertyAnimation> fadeIn_, fadeOut_;
    bool attached_ = false;
    int attachCount_ = 0;
};

}  // namespace telvo::app
