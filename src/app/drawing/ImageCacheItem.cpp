#include "app/drawing/ImageCacheItem.h"

#include <QPainter>
#include <algorithm>

namespace telvo::app {

void ImageCacheItem::drawInRect(QPainter& painter, const QRectF& rect, double alpha) const {
    if (parts_.size() != 3 && parts_.size() != 9) return;
    painter.save();
    painter.setOpacity(painter.opacity() * alpha);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (parts_.size() == 9)
        drawNinePart(painter, rect);
    else
        drawThreePart(painter, rect);
    painter.restore();
}

void ImageCacheItem::drawThreePart(QPainter& painter, const QRectF& rect) const {
    const QImage& start = parts_[0];
    const QImage& centre = parts_[1];
    const QImage& end = parts_[2];
    if (!vertical_) {
        double a = start.width(), b = end.width();
        // Narrower than the two caps: the caps share the width in proportion, no centre.
        if (a + b > rect.width() && a + b > 0) {
            double k = rect.width() / (a + b);
            a *= k;
            b *= k;
        }
        painter.drawImage(QRectF(rect.x(), rect.y(), a, rect.height()), start);
        double mid = rect.width() - a - b;
        if (mid > 0 && !centre.isNull()) painter.drawImage(QRectF(rect.x() + a, rect.y(), mid, rect.height()), centre);
        painter.drawImage(QRectF(rect.right() - b, rect.y(), b, rect.height()), end);
    } else {
        double a = start.height(), b = end.height();
        if (a + b > rect.height() && a + b > 0) {
            double k = rect.height() / (a + b);
            a *= k;
            b *= k;
        }
        painter.drawImage(QRectF(rect.x(), rect.y(), rect.width(), a), start);
        double mid = rect.height() - a - b;
        if (mid > 0 && !centre.isNull()) painter.drawImage(QRectF(rect.x(), rect.y() + a, rect.width(), mid), centre);
        painter.drawImage(QRectF(rect.x(), rect.bottom() - b, rect.width(), b), end);
    }
}

void ImageCacheItem::drawNinePart(QPainter& painter, const QRectF& rect) const {
    const double l = parts_[0].width(), r = parts_[2].width();
    const double t = parts_[0].height(), b = parts_[6].height();
    const double midW = std::max(0.0, rect.width() - l - r);
    const double midH = std::max(0.0, rect.height() - t - b);
    const double xs[3] = {rect.x(), rect.x() + l, rect.right() - r};
    const double ws[3] = {l, midW, r};
    const double ys[3] = {rect.y(), rect.y() + t, rect.bottom() - b};
    const double hs[3] = {t, midH, b};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            const QImage& part = parts_[size_t(row * 3 + col)];
            if (part.isNull() || ws[col] <= 0 || hs[row] <= 0) continue;
            painter.drawImage(QRectF(xs[col], ys[row], ws[col], hs[row]), part);
        }
}

}  // namespace telvo::app
