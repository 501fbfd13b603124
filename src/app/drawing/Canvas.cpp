#include "app/drawing/Canvas.h"

#include <QFont>
#include <QFontMetricsF>

namespace telvo::app {

QString installedFamily(const QString& family) {
    if (family == QLatin1String("Helvetica") || family == QLatin1String("Helvetica Neue"))
        return QStringLiteral("Liberation Sans");
    if (family == QLatin1String("Menlo")) return QStringLiteral("DejaVu Sans Mono");
    return family;
}

Canvas::Canvas(QPainter& painter, DrawLog* log, ImageCache* cache)
    : painter_(painter), log_(log), cache_(cache ? cache : &ImageCache::sharedCache()) {}

void Canvas::record(DrawCall call) {
    if (log_) log_->calls.push_back(std::move(call));
}

void Canvas::imageAt(const QString& name, QPointF point, double alpha) {
    QImage image = cache_->imageNamed(name);
    DrawCall call = makeDrawCall(DrawCall::Kind::Image, name, QRectF(point, QSizeF(image.size())), alpha);
    record(call);
    if (image.isNull()) return;
    painter_.save();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(painter_.opacity() * alpha);
    painter_.drawImage(point, image);
    painter_.restore();
}

void Canvas::imageAtOrigin(const QString& name, double viewHeight, double alpha) {
    QImage image = cache_->imageNamed(name);
    imageAt(name, QPointF(0, viewHeight - image.height()), alpha);
}

void Canvas::imageIn(const QString& name, const QRectF& rect, double alpha) {
    QImage image = cache_->imageNamed(name);
    record(makeDrawCall(DrawCall::Kind::Image, name, rect, alpha));
    if (image.isNull()) return;
    painter_.save();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setOpacity(painter_.opacity() * alpha);
    painter_.drawImage(rect, image);
    painter_.restore();
}

void Canvas::threePart(const QString& name, int leftCap, const QRectF& rect, double alpha) {
    auto item = cache_->imageWithLeftCap(name, leftCap);
    if (!item) {
        record(makeDrawCall(DrawCall::Kind::ThreePart, name, rect, alpha));
        return;
    }
    threePart(name, *item, rect, alpha);
}

void Canvas::threePart(const QString& name, const ImageCacheItem& item, const QRectF& rect, double alpha) {
    record(makeDrawCall(DrawCall::Kind::ThreePart, name, rect, alpha));
    item.drawInRect(painter_, rect, alpha);
}

void Canvas::text(const QString& text, const QRectF& rect, const TextStyle& style) {
    DrawCall call = makeDrawCall(DrawCall::Kind::Text, text, rect, 1.0);
    call.fontFamily = style.family;
    call.fontSize = style.size;
    call.grey = style.colour.redF();
    call.alignment = int(style.alignment);
    record(call);
    if (text.isEmpty() || rect.width() <= 0 || rect.height() <= 0) return;
    QFont font(installedFamily(style.family));
    font.setPixelSize(int(style.size));
    QFontMetricsF metrics(font);
    QString shown = style.truncateTail ? metrics.elidedText(text, Qt::ElideRight, rect.width()) : text;
    const Qt::Alignment align = style.alignment | Qt::AlignTop;
    painter_.save();
    painter_.setFont(font);
    if (style.shadow) {
        painter_.setPen(style.shadowColour);
        painter_.drawText(rect.translated(style.shadowOffset), int(align), shown);
    }
    painter_.setPen(style.colour);
    painter_.drawText(rect, int(align), shown);
    painter_.restore();
}

void Canvas::recordFill(const QString& what, const QRectF& rect, double grey) {
    DrawCall call = makeDrawCall(DrawCall::Kind::Fill, what, rect, 1.0);
    call.grey = grey;
    record(call);
}

QImage renderToImage(QSize size, const std::function<void(Canvas&)>& paint, DrawLog* log, ImageCache* cache) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    Canvas canvas(painter, log, cache);
    paint(canvas);
    painter.end();
    return image;
}

}  // namespace telvo::app
