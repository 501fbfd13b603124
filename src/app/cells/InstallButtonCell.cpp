#include "app/cells/InstallButtonCell.h"

#include <algorithm>

namespace telvo::app {

ImageCacheItem installButtonSlices(const QImage& source, double width) {
    const int sw = source.width(), sh = source.height();
    const int cap = std::min(30, sw / 2);
    const int centre = std::max(0, std::min(int(width), sw) - 2 * cap);
    std::vector<QImage> parts{source.copy(0, 0, cap, sh), centre > 0 ? source.copy(cap, 0, centre, sh) : QImage(),
                              source.copy(sw - cap, 0, cap, sh)};
    return ImageCacheItem(std::move(parts), false);
}

void paintInstallButtonCell(Canvas& canvas, const InstallButtonCell& cell, const QRectF& frame) {
    const double W = frame.width(), H = frame.height();
    const QString name = cell.highlighted ? QStringLiteral("welcome-button-down") : QStringLiteral("welcome-button");
    QImage source = canvas.cache().imageNamed(name);
    if (!source.isNull()) canvas.threePart(name, installButtonSlices(source, W), QRectF(0, 0, W, H));
    TextStyle style;
    style.family = QStringLiteral("Helvetica Neue");
    style.size = 15;
    style.colour = QColor::fromRgbF(1, 1, 1, 1);
    style.alignment = Qt::AlignHCenter;
    canvas.text(cell.title, QRectF(5, 7, W - 10, 20), style);
}

void InstallButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    log_.clear();
    Canvas canvas(painter, &log_);
    paintInstallButtonCell(canvas, InstallButtonCell{isDown(), text()}, QRectF(rect()));
}

}  // namespace telvo::app
