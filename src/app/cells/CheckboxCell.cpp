#include "app/cells/CheckboxCell.h"

namespace telvo::app {

QString checkboxImageName(const CheckboxCell& cell) {
    // A mixed state draws as off.
    if (cell.state == CheckboxCell::On)
        return cell.highlighted ? QStringLiteral("ui-checkbox-20-on-down") : QStringLiteral("ui-checkbox-20-on");
    return cell.highlighted ? QStringLiteral("ui-checkbox-20-down") : QStringLiteral("ui-checkbox-20");
}

void paintCheckboxCell(Canvas& canvas, const CheckboxCell& cell, const QRectF& frame) {
    const double W = frame.width();
    const bool right = cell.rightAligned;
    double x = (cell.imageOnRight || right) ? frame.x() + W - 14 : frame.x();
    if (cell.title.isEmpty()) x = 0;
    canvas.imageAt(checkboxImageName(cell), QPointF(x, frame.y()), cell.enabled ? 1.0 : 0.5);
    TextStyle style;
    style.size = 11;
    style.colour = TextStyle::grey(0.4);
    style.alignment = right ? Qt::AlignRight : Qt::AlignLeft;
    canvas.text(cell.title, right ? QRectF(0, 5, W - 19, 14) : QRectF(19, 5, W - 22, 14), style);
}

TVSCheckbox::TVSCheckbox(QWidget* parent) : QAbstractButton(parent) { setCheckable(true); }

CheckboxCell TVSCheckbox::cell() const {
    CheckboxCell c;
    c.state = isChecked() ? CheckboxCell::On : CheckboxCell::Off;
    c.highlighted = isDown();
    c.enabled = isEnabled();
    c.title = text();
    c.rightAligned = rightAligned_;
    return c;
}

void TVSCheckbox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    log_.clear();
    Canvas canvas(painter, &log_);
    paintCheckboxCell(canvas, cell(), QRectF(rect()));
}

}  // namespace telvo::app
