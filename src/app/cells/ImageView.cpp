#include "app/cells/ImageView.h"

#include <cmath>

#include "app/drawing/Canvas.h"

namespace telvo::app {

void ImageView::setImageName(const QString& name) {
    name_ = name;
    update();
}

void ImageView::paintEvent(QPaintEvent*) {
    lastDrawn_ = name_;
    if (name_.isEmpty()) return;
    QPainter painter(this);
    Canvas canvas(painter);
    QImage image = canvas.cache().imageNamed(name_);
    canvas.imageAt(name_, QPointF(std::round((width() - image.width()) / 2.0), std::round((height() - image.height()) / 2.0)));
}

}  // namespace telvo::app
