#pragma once
// The pop-up button: the three-part image "ui-popup-20" ("-down" while pressed, 10-point
// caps) in (0, 0, W, 20) and the selected title in Helvetica 11, grey 0.2, at (8, 3). The
// enabled state does not change the drawing.
#include <QComboBox>

#include "app/drawing/Canvas.h"

namespace telvo::app {

struct PopUpButtonCell {
    bool highlighted = false;
    QString title;
};

void paintPopUpButtonCell(Canvas& canvas, const PopUpButtonCell& cell, const QRectF& frame);

class TVSPopUpButton : public QComboBox {
    Q_OBJECT
public:
    explicit TVSPopUpButton(QWidget* parent = nullptr) : QComboBox(parent) {}
    const DrawLog& lastDraw() const { return log_; }
    QSize sizeHint() const override { return QSize(140, 20); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    DrawLog log_;
};

}  // namespace telvo::app
