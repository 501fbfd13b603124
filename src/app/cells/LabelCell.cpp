#include "app/cells/LabelCell.h"

namespace telvo::app {

void paintLabelCell(Canvas& canvas, const QString& text, const QRectF& frame) {
    TextStyle style;
    style.size = 12;
    style.colour = TextStyle::grey(0.251);
    style.shadow = true;
    canvas.text(text, QRectF(0, 0, frame.width(), frame.height()), style);
}

void TVSLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    log_.clear();
    Canvas canvas(painter, &log_);
    paintLabelCell(canvas, text(), QRectF(rect()));
}

}  // namespace telvo::app
