#include "app/window/INTitlebarView.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/window/INAppStoreWindow.h"
#include "app/window/NoiseTexture.h"
#include "platform/defaults/UserDefaults.h"

namespace telvo::app {

namespace {
QColor grey(double w, double a = 1.0) { return QColor::fromRgbF(w, w, w, a); }

// `rect` with its two top corners rounded by `radius`, bottom corners square.
QPainterPath topRounded(const QRectF& rect, double radius) {
    QPainterPath path;
    path.moveTo(rect.bottomLeft());
    path.lineTo(rect.left(), rect.top() + radius);
    path.arcTo(QRectF(rect.left(), rect.top(), 2 * radius, 2 * radius), 180, -90);
    path.lineTo(rect.right() - radius, rect.top());
    path.arcTo(QRectF(rect.right() - 2 * radius, rect.top(), 2 * radius, 2 * radius), 90, -90);
    path.lineTo(rect.bottomRight());
    path.closeSubpath();
    return path;
}
}  // namespace

INTitlebarView::INTitlebarView(QWidget* parent) : QWidget(parent) {}

void INTitlebarView::drawNoise(QPainter& painter, double opacity, double scaleFactor, const QRectF& area) {
    painter.save();
    painter.setOpacity(opacity);
    painter.setCompositionMode(QPainter::CompositionMode_Screen);
    if (scaleFactor != 0) painter.scale(1 / scaleFactor, 1 / scaleFactor);
    const double k = scaleFactor != 0 ? scaleFactor : 1;
    QRectF tiled(area.x() * k, area.y() * k, area.width() * k, area.height() * k);
    painter.drawTiledPixmap(tiled, QPixmap::fromImage(noiseTexture()), tiled.topLeft());
    painter.restore();
}

void INTitlebarView::paintEvent(QPaintEvent*) {
    auto* owner = qobject_cast<INAppStoreWindow*>(window());
    const bool asMain = owner ? owner->drawsAsMainWindow() : true;
    const QRectF bounds = rect();
    QPainter p(this);
    last_ = Drawing{};
    last_.asMainWindow = asMain;
    if (owner && owner->titleBarDrawingBlock()) {
        last_.usedBlock = true;
        owner->titleBarDrawingBlock()(p, asMain, topRounded(bounds, 4), bounds);
        return;
    }
    if (owner && owner->isFullScreen()) p.fillRect(bounds, Qt::black);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(topRounded(bounds.adjusted(0, 1, 0, 0), 4));
    last_.gradientBottom = asMain ? 0.761 : 0.914;
    last_.gradientTop = asMain ? 0.906 : 0.976;
    QLinearGradient gradient(bounds.bottomLeft(), bounds.topLeft());
    gradient.setColorAt(0, grey(last_.gradientBottom));
    gradient.setColorAt(1, grey(last_.gradientTop));
    p.fillRect(bounds, gradient);
    const bool separator = owner ? owner->showsBaselineSeparator() : true;
    if (separator) {
        const bool light = owner && owner->useLightBaselineSeparator();
        last_.separatorGrey = light ? (asMain ? 0.569 : 0.745) : (asMain ? 0.408 : 0.62);
        p.fillRect(QRectF(0, bounds.height() - 1, bounds.width(), 1), grey(last_.separatorGrey));
        if (!light) {
            last_.whiteLine = true;
            p.fillRect(QRectF(0, bounds.height() - 2, bounds.width(), 1), grey(1, 0.12));
        }
    }
    if (asMain) {
        last_.noise = true;
        p.setClipPath(topRounded(bounds.adjusted(1, 1, -1, -1), 4));
        drawNoise(p, 0.09, devicePixelRatioF(), bounds);
    }
}

void INTitlebarView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton &&
        defaults::UserDefaults::standard().boolForKey("AppleMiniaturizeOnDoubleClick")) {
        if (auto* owner = qobject_cast<INAppStoreWindow*>(window()))
            owner->miniaturize();
        else
            window()->showMinimized();
    }
    event->accept();
}

}  // namespace telvo::app
