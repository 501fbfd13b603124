#include "app/window/TVSWindowControlsView.h"

#include <QPainter>

#include "app/ApplicationState.h"
#include "app/drawing/Canvas.h"

namespace telvo::app {

TVSWindowControlsView::TVSWindowControlsView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover);
    QImage image = ImageCache::sharedCache().imageNamed(QStringLiteral("traffic-all"));
    resize(image.isNull() ? QSize(34, 14) : image.size());
    // The application redraws the view whenever it becomes or stops being active.
    auto redraw = [this](const notify::Notification&) { update(); };
    auto& centre = notify::NotificationCenter::defaultCenter();
    observers_.push_back(centre.addObserver(ApplicationState::kDidBecomeActive, nullptr, nullptr, redraw));
    observers_.push_back(centre.addObserver(ApplicationState::kDidResignActive, nullptr, nullptr, redraw));
}

TVSWindowControlsView::~TVSWindowControlsView() {
    for (auto token : observers_) notify::NotificationCenter::defaultCenter().removeObserver(token);
}

QString TVSWindowControlsView::backgroundImageName() {
    auto& state = ApplicationState::shared();
    if (!state.isActive()) return QStringLiteral("traffic-all-disabled");
    return state.isGraphite() ? QStringLiteral("traffic-all-graphite") : QStringLiteral("traffic-all");
}

void TVSWindowControlsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Canvas canvas(painter);
    lastDrawn_ = backgroundImageName();
    // Drawn whole at the view's origin; the view is the image's size.
    canvas.imageAtOrigin(lastDrawn_, height());
}

void TVSWindowControlsView::enterEvent(QEnterEvent*) { notify::NotificationCenter::defaultCenter().post(kDidHover); }

void TVSWindowControlsView::leaveEvent(QEvent*) { notify::NotificationCenter::defaultCenter().post(kDidUnHover); }

}  // namespace telvo::app
