#pragma once
// The overlay's surface: a 630 x 441 widget laid over its parent window (a child widget, as
// there may be no compositor for translucent top-level windows), filled with black at alpha
// 0.4, holding one page. It takes the keyboard while the parent window stays the active one.
#include <QWidget>

class QGraphicsOpacityEffect;

namespace telvo::app {

class OverlayWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 630;
    static constexpr int kHeight = 441;

    OverlayWindow();
    // The window's alpha, carried by an opacity effect.
    double alpha() const;
    void setAlpha(double alpha);
    QGraphicsOpacityEffect* opacityEffect() const { return effect_; }
    bool canBecomeKeyWindow() const { return true; }
    bool canBecomeMainWindow() const { return false; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QGraphicsOpacityEffect* effect_;
};

}  // namespace telvo::app
