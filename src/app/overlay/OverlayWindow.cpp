#include "app/overlay/OverlayWindow.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>

namespace telvo::app {

OverlayWindow::OverlayWindow() : QWidget(nullptr), effect_(new QGraphicsOpacityEffect(this)) {
    resize(kWidth, kHeight);
    setGraphicsEffect(effect_);
    effect_->setOpacity(1.0);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_NoSystemBackground);
}

double OverlayWindow::alpha() const { return effect_->opacity(); }

void OverlayWindow::setAlpha(double alpha) { effect_->setOpacity(alpha); }

void OverlayWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.4));
}

}  // namespace telvo::app
