#include "app/window/INTitlebarContainer.h"

#include <QMouseEvent>

namespace telvo::app {

INTitlebarContainer::INTitlebarContainer(QWidget* parent) : QWidget(parent) {}

void INTitlebarContainer::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragging_ = true;
    startPointer_ = event->globalPosition().toPoint();
    startOrigin_ = window()->pos();
    event->accept();
}

void INTitlebarContainer::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    window()->move(startOrigin_ + (event->globalPosition().toPoint() - startPointer_));
    event->accept();
}

void INTitlebarContainer::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

}  // namespace telvo::app
