#pragma once
// One sliced image: three parts (start cap, centre, end cap; left to right, or top to bottom
// when vertical) or nine parts (top-left, top, top-right, left, centre, right, bottom-left,
// bottom, bottom-right). Drawing keeps the caps at their size and stretches the rest.
// Slices are held in Qt's top-left origin: a top cap is the image's first rows.
#include <QImage>
#include <QRectF>
#include <vector>

class QPainter;

namespace telvo::app {

class ImageCacheItem {
public:
    ImageCacheItem(std::vector<QImage> parts, bool vertical) : parts_(std::move(parts)), vertical_(vertical) {}

    const std::vector<QImage>& parts() const { return parts_; }
    bool isVertical() const { return vertical_; }

    void drawInRect(QPainter& painter, const QRectF& rect, double alpha = 1.0) const;

private:
    void drawThreePart(QPainter& painter, const QRectF& rect) const;
    void drawNinePart(QPainter& painter, const QRectF& rect) const;

    std::vector<QImage> parts_;
    bool vertical_ = false;
};

}  // namespace telvo::app
