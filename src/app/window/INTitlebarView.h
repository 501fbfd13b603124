#pragma once
// The default title-bar view of a title-bar window: the drawing block when the window has
// one, else the default look (grey gradient, baseline separator, noise). A double click
// minimises the window when the user's "AppleMiniaturizeOnDoubleClick" is set.
#include <QWidget>

namespace telvo::app {

class INTitlebarView : public QWidget {
    Q_OBJECT
public:
    // What the last default drawing did, for tests.
    struct Drawing {
        bool usedBlock = false;
        bool asMainWindow = false;
        double gradientBottom = 0, gradientTop = 0;
        double separatorGrey = -1;  // -1: no separator
        bool whiteLine = false;
        bool noise = false;
    };

    explicit INTitlebarView(QWidget* parent = nullptr);
    const Drawing& lastDrawing() const { return last_; }

    // Tiles the noise texture over the painter's clip with `opacity` in screen blending.
    static void drawNoise(QPainter& painter, double opacity, double scaleFactor, const QRectF& area);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    Drawing last_;
};

}  // namespace telvo::app
