#include "app/cells/TVSImageButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "app/drawing/Canvas.h"
#include "app/window/TVSWindowControlsView.h"

namespace telvo::app {

TVSImageButton::TVSImageButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    auto& centre = notify::NotificationCenter::defaultCenter();
    observers_.push_back(centre.addObserver(TVSWindowControlsView::kDidHover, nullptr, nullptr,
                                            [this](const notify::Notification&) { didHover(); }));
    observers_.push_back(centre.addObserver(TVSWindowControlsView::kDidUnHover, nullptr, nullptr,
                                            [this](const notify::Notification&) { didUnHover(); }));
}

TVSImageButton::~TVSImageButton() {
    for (auto token : observers_) notify::NotificationCenter::defaultCenter().removeObserver(token);
}

void TVSImageButton::setImage(const QString& name) {
    image_ = name;
    update();
}

QSize TVSImageButton::sizeHint() const {
    QImage image = ImageCache::sharedCache().imageNamed(image_);
    return image.isNull() ? QSize(14, 14) : image.size();
}

void TVSImageButton::didHover() {
    if (hover_.isEmpty()) return;
    standard_ = image_;
    setImage(hover_);
}

void TVSImageButton::didUnHover() {
    if (hover_.isEmpty()) return;
    setImage(standard_);
}

void TVSImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Canvas canvas(painter);
    lastDrawn_ = imageToDraw();
    QImage image = canvas.cache().imageNamed(lastDrawn_);
    // Centred in the button, as an image button draws its image.
    canvas.imageAt(lastDrawn_, QPointF((width() - image.width()) / 2.0, (height() - image.height()) / 2.0));
}

void TVSImageButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicking = event->button() == Qt::LeftButton && isDown() && hitButton(event->position().toPoint());
    QPointer<TVSImageButton> self(this);
    QAbstractButton::mouseReleaseEvent(event);
    // After the click's action: every hovering button returns to its standard image.
    if (clicking && self && !hover_.isEmpty())
        notify::NotificationCenter::defaultCenter().post(TVSWindowControlsView::kDidUnHover);
}

}  // namespace telvo::app
