#pragma once
// The checkbox: a box image ("ui-checkbox-20", "-down", "-on", "-on-down") at the frame's
// left, or its right when the image is on the right or the title right-aligned (at x 0 when
// there is no title), half transparent when disabled, and its title in Helvetica 11, grey 0.4.
// The painter function draws into any canvas; TVSCheckbox is the widget the interface files use.
#include <QAbstractButton>

#include "app/drawing/Canvas.h"

namespace telvo::app {

struct CheckboxCell {
    enum State { Mixed = -1, Off = 0, On = 1 };
    int state = Off;
    bool highlighted = false;
    bool enabled = true;
    QString title;
    bool rightAligned = false;  // the cell's alignment is right
    bool imageOnRight = false;  // the control's image position is "right"
};

QString checkboxImageName(const CheckboxCell& cell);
void paintCheckboxCell(Canvas& canvas, const CheckboxCell& cell, const QRectF& frame);

class TVSCheckbox : public QAbstractButton {
    Q_OBJECT
public:
    explicit TVSCheckbox(QWidget* parent = nullptr);
    void setRightAligned(bool right) { rightAligned_ = right; update(); }
    CheckboxCell cell() const;
    const DrawLog& lastDraw() const { return log_; }
    QSize sizeHint() const override { return QSize(120, 20); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool rightAligned_ = false;
    DrawLog log_;
};

}  // namespace telvo::app
