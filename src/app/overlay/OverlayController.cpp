#include "app/overlay/OverlayController.h"

#include <QGraphicsOpacityEffect>
#include <cmath>
#include <memory>

#include "app/Coordinates.h"

namespace telvo::app {

namespace {
std::unique_ptr<OverlayController>& slot() {
    static std::unique_ptr<OverlayController> controller;
    return controller;
}
}  // namespace

OverlayController& OverlayController::sharedOverlayController() {
    if (!slot()) slot().reset(new OverlayController);
    return *slot();
}

void OverlayController::resetForTesting() { slot().reset(); }

OverlayController::~OverlayController() {
    if (window_) {
        removeViews();
        delete window_.data();
    }
}

OverlayWindow* OverlayController::window() {
    if (!window_) {
        // Made once; made again only if a parent window took it down with itself.
        window_ = new OverlayWindow;
        window_->setObjectName(QStringLiteral("overlayWindow"));
        attached_ = false;
        fadeIn_ = new QPropertyAnimation(window_->opacityEffect(), "opacity", window_);
        fadeIn_->setDuration(kFadeInMs);
        fadeIn_->setEndValue(1.0);
        fadeOut_ = new QPropertyAnimation(window_->opacityEffect(), "opacity", window_);
        fadeOut_->setDuration(kFadeOutMs);
        fadeOut_->setEndValue(0.0);
        QObject::connect(fadeOut_, &QPropertyAnimation::finished, window_, [this] { finishFadeOut(); });
    }
    return window_;
}

void OverlayController::removeViews() {
    if (!window_) return;
    for (QWidget* child : window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->hide();
        child->setParent(nullptr);
    }
}

void OverlayController::showWithView(QWidget* view) {
    OverlayWindow* overlay = window();
    if (!parent_ || !view) return;
    overlay->setUpdatesEnabled(false);
    removeViews();
    // Centred: x across the overlay, y (bottom-up) across the parent window, 8 points low.
    const double x = std::round((overlay->width() - view->width()) * 0.5);
    const double upY = std::round((parent_->height() - view->height()) * 0.5) - 8;
    view->setParent(overlay);
    view->move(int(x), int(qtY(upY, view->height(), overlay->height())));
    view->show();
    overlay->setUpdatesEnabled(true);

    // A fade-out still running would detach the overlay with the new page in it.
    const bool fadingOut = fadeOut_->state() == QAbstractAnimation::Running;
    if (fadingOut) fadeOut_->stop();
    if (!attached_) {
        overlay->setAlpha(0);
        overlay->setParent(parent_);
        overlay->move(0, 0);
        overlay->raise();
        overlay->show();
        overlay->setFocus();
        attached_ = true;
        ++attachCount_;
        overlay->setAlpha(0);
    }
    // Fading in from where the overlay stands, unless a fade-in already runs; a page swapped
    // into a showing overlay appears without a fade.
    if (fadeIn_->state() != QAbstractAnimation::Running && overlay->alpha() < 1.0) {
        fadeIn_->stop();
        fadeIn_->setStartValue(overlay->alpha());
        fadeIn_->start();
    }
}

void OverlayController::remove() {
    if (!window_ || !attached_) return;
    if (fadeOut_->state() == QAbstractAnimation::Running) return;
    fadeIn_->stop();
    fadeOut_->setStartValue(window_->alpha());
    fadeOut_->start();
}

void OverlayController::finishFadeOut() {
    if (!window_) return;
    window_->hide();
    window_->setParent(nullptr);
    attached_ = false;
    window_->setAlpha(1.0);
    removeViews();
}

}  // namespace telvo::app
