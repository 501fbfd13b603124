#pragma once
// The push button: the three-part image "ui-button-20" ("-down" while pressed, 10-point caps)
// 20 points high across the frame, and its title centred in Helvetica 11, grey 0.2.
#include <QAbstractButton>

#include "app/drawing/Canvas.h"

namespace telvo::app {

struct ButtonCell {
    bool highlighted = false;
    QString title;
};

void paintButtonCell(Canvas& canvas, const ButtonCell& cell, const QRectF& frame);

class TVSButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TVSButton(QWidget* parent = nullptr) : QAbstractButton(parent) {}
    const DrawLog& lastDraw() const { return log_; }
    QSize sizeHint() const override { return QSize(90, 20); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    DrawLog log_;
};

}  // namespace telvo::app
