#pragma once
// A borderless window with a clear background and a shadow that can still take keyboard
// focus and is moved by dragging its background. The style asked for is ignored: a titled
// window is frameless all the same.
#include <QPoint>
#include <QWidget>

namespace telvo::app {

class TVSWindow : public QWidget {
    Q_OBJECT
public:
    // Style bits as the interface files give them (1 titled, 2 closable, ...); ignored.
    explicit TVSWindow(unsigned styleMask = 0, QWidget* parent = nullptr);
    bool canBecomeKeyWindow() const { return true; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint startPointer_, startOrigin_;
};

}  // namespace telvo::app
