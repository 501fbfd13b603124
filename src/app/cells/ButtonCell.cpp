#include "app/cells/ButtonCell.h"

namespace telvo::app {

void paintButtonCell(Canvas& canvas, const ButtonCell& cell, const QRectF& frame) {
    const double W = frame.width();
    canvas.threePart(cell.highlighted ? QStringLiteral("ui-button-20-down") : QStringLiteral("ui-button-20"), 10,
                     QRectF(frame.x(), frame.y(), W, 20));
    TextStyle style;
    style.colour = TextStyle::grey(0.2);
    style.alignment = Qt::AlignHCenter;
    canvas.text(cell.title, QRectF(5, 3, W - 10, 14), style);
}

void TVSButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    log_.clear();
    Canvas canvas(painter, &log_);
    paintButtonCell(canvas, ButtonCell{isDown(), text()}, QRectF(rect()));
}

}  // namespace telvo::app
