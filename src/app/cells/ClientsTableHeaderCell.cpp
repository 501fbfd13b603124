#include "app/cells/ClientsTableHeaderCell.h"

#include <QFontMetricsF>
#include <QLinearGradient>

namespace telvo::app {

void paintClientsTableHeaderCell(Canvas& canvas, const QString& title, const QRectF& frame) {
    QPainter& p = canvas.painter();
    const double x = frame.x(), y = frame.y(), W = frame.width(), H = frame.height();
    // The header is flipped: the gradient's start (at 90 degrees) is at the top.
    QRectF body(x, y + 1, W, H - 2);
    QLinearGradient gradient(body.topLeft(), body.bottomLeft());
    gradient.setColorAt(0, TextStyle::grey(0.98));
    gradient.setColorAt(1, TextStyle::grey(0.89));
    p.fillRect(body, gradient);
    canvas.recordFill(QStringLiteral("gradient"), body, 0.98);
    p.fillRect(QRectF(x, y, W, 1), Qt::white);
    canvas.recordFill(QStringLiteral("top line"), QRectF(x, y, W, 1), 1.0);
    p.fillRect(QRectF(x, y + H - 1, W, 1), TextStyle::grey(0.85));
    canvas.recordFill(QStringLiteral("bottom line"), QRectF(x, y + H - 1, W, 1), 0.85);

    TextStyle style;
    style.colour = TextStyle::grey(0.502);
    style.shadow = true;
    style.truncateTail = false;
    QFont font(installedFamily(style.family));
    font.setPixelSize(int(style.size));
    QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(title), metrics.height());
    canvas.text(title, QRectF(QPointF(x + 2, (H - size.height()) / 2), size), style);
}

void TVSClientsTableHeaderView::paintEvent(QPaintEvent* event) {
    log_.clear();
    QHeaderView::paintEvent(event);
}

void TVSClientsTableHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    Canvas canvas(*painter, &log_);
    const QString title = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    painter->save();
    paintClientsTableHeaderCell(canvas, title, QRectF(rect));
    painter->restore();
}

}  // namespace telvo::app
