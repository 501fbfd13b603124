#include "app/window/StandardWindowButton.h"

#include <QPainter>

namespace telvo::app {

StandardWindowButton::StandardWindowButton(Kind kind, QWidget* parent) : QAbstractButton(parent), kind_(kind) {
    resize(kSize, kSize);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        QWidget* w = window();
        switch (kind_) {
            case Kind::Close: w->close(); break;
            case Kind::Miniaturize: w->showMinimized(); break;
            case Kind::Zoom: w->isMaximized() ? w->showNormal() : w->showMaximized(); break;
        }
    });
}

void StandardWindowButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    static const QColor colours[] = {QColor(0xe2, 0x53, 0x4a), QColor(0xe6, 0xb2, 0x3a), QColor(0x5c, 0xc9, 0x4f)};
    QColor fill = isEnabled() ? colours[int(kind_)] : QColor(0xb8, 0xbc, 0xc1);
    if (isDown()) fill = fill.darker(130);
    p.setBrush(fill);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawEllipse(QRectF(0.5, 0.5, width() - 1, height() - 1));
}

}  // namespace telvo::app
