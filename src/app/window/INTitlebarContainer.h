#pragma once
// The full-width strip along the top of a title-bar window that holds its title-bar view.
// Dragging it moves the window with move(), so the window moves without a window manager.
#include <QPoint>
#include <QWidget>

namespace telvo::app {

class INTitlebarContainer : public QWidget {
    Q_OBJECT
public:
    explicit INTitlebarContainer(QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool dragging_ = false;
    QPoint startPointer_;
    QPoint startOrigin_;
};

}  // namespace telvo::app
