#include "app/cells/ImageViews.h"

namespace telvo::app {

void paintImageAtOrigin(Canvas& canvas, const QString& name, const QSizeF& size, double alpha) {
    canvas.imageAtOrigin(name, size.height(), alpha);
}

QString passcodeBackgroundImageName(int mode) {
    return mode == 1 ? QStringLiteral("password-background") : QStringLiteral("passcode-background");
}

void ImageBackgroundView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    log_.clear();
    Canvas canvas(painter, &log_);
    paint(canvas);
}

void ImageBackgroundView::paint(Canvas& canvas) { paintImageAtOrigin(canvas, imageName(), QSizeF(size())); }

void TVSPasscodeBar::paint(Canvas& canvas) { canvas.imageIn(imageName(), QRectF(rect())); }

}  // namespace telvo::app
