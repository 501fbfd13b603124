#pragma once
// The drawing surface of the cells and views: a QPainter, the image cache the named images
// come from and an optional log of the draw calls. Every position is in Qt's coordinates
// (convert the design's bottom-up numbers with Coordinates.h first).
#include <QImage>
#include <QPainter>
#include <QSize>
#include <functional>

#include "app/drawing/DrawLog.h"
#include "app/drawing/ImageCache.h"
#include "app/drawing/TextStyle.h"

namespace telvo::app {

class Canvas {
public:
    explicit Canvas(QPainter& painter, DrawLog* log = nullptr, ImageCache* cache = nullptr);

    QPainter& painter() { return painter_; }
    ImageCache& cache() { return *cache_; }

    // The whole named image with its top-left corner at `point`, source-over.
    void imageAt(const QString& name, QPointF point, double alpha = 1.0);
    // The whole named image at the origin of an unflipped view `viewHeight` high: its
    // bottom-left corner on the view's bottom-left corner.
    void imageAtOrigin(const QString& name, double viewHeight, double alpha = 1.0);
    // The whole named image stretched over `rect`.
    void imageIn(const QString& name, const QRectF& rect, double alpha = 1.0);
    // The named image cut with a left cap of `leftCap` and drawn into `rect`.
    void threePart(const QString& name, int leftCap, const QRectF& rect, double alpha = 1.0);
    // A three-part drawing of parts cut by the caller; `name` is recorded.
    void threePart(const QString& name, const ImageCacheItem& item, const QRectF& rect, double alpha = 1.0);
    // One line of text in `rect`, truncated at the tail when it does not fit.
    void text(const QString& text, const QRectF& rect, const TextStyle& style);
    // Records a fill the caller drew itself.
    void recordFill(const QString& what, const QRectF& rect, double grey);

private:
    void record(DrawCall call);

    QPainter& painter_;
    DrawLog* log_;
    ImageCache* cache_;
};

// Runs `paint` on a transparent ARGB image of `size` and answers the image.
QImage renderToImage(QSize size, const std::function<void(Canvas&)>& paint, DrawLog* log = nullptr,
                     ImageCache* cache = nullptr);

}  // namespace telvo::app
