#include "app/cells/PopUpButtonCell.h"

#include <QAbstractItemView>

namespace telvo::app {

void paintPopUpButtonCell(Canvas& canvas, const PopUpButtonCell& cell, const QRectF& frame) {
    const double W = frame.width();
    canvas.threePart(cell.highlighted ? QStringLiteral("ui-popup-20-down") : QStringLiteral("ui-popup-20"), 10,
                     QRectF(0, 0, W, 20));
    TextStyle style;
    style.colour = TextStyle::grey(0.2);
    canvas.text(cell.title, QRectF(8, 3, W - 27, 14), style);
}

void TVSPopUpButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    log_.clear();
    Canvas canvas(painter, &log_);
    paintPopUpButtonCell(canvas, PopUpButtonCell{view()->isVisible(), currentText()}, QRectF(rect()));
}

}  // namespace telvo::app
