#include "app/window/TVSWindow.h"

#include <QMouseEvent>

namespace telvo::app {

TVSWindow::TVSWindow(unsigned, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowOpacity(1.0);
    setFocusPolicy(Qt::StrongFocus);
}

void TVSWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    startPointer_ = event->globalPosition().toPoint();
    startOrigin_ = pos();
}

void TVSWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    move(startOrigin_ + (event->globalPosition().toPoint() - startPointer_));
}

}  // namespace telvo::app
