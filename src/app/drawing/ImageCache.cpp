#include "app/drawing/ImageCache.h"

#include <QFile>
#include <algorithm>
#include <cstdio>

#include "app/Bundle.h"

namespace telvo::app {

namespace {
std::unique_ptr<ImageCache>& sharedSlot() {
    static std::unique_ptr<ImageCache> cache;
    return cache;
}

QImage slice(const QImage& source, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0) return QImage();
    return source.copy(x, y, w, h);
}
}  // namespace

ImageCache& ImageCache::sharedCache() {
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_unique<ImageCache>();
    return *slot;
}

void ImageCache::resetForTesting() { sharedSlot().reset(); }

ImageCache::ImageCache(QString resourcesFolder) : folder_(std::move(resourcesFolder)) {}

QImage imageNamed(const QString& name) { return ImageCache::sharedCache().imageNamed(name); }

QImage ImageCache::loadImageNamed(const QString& name) const {
    if (name.isEmpty()) return QImage();
    QString path = folder_.isEmpty() ? imagePath(name) : folder_ + '/' + name + QStringLiteral(".png");
    if (!QFile::exists(path)) return QImage();
    QImage image(path);
    if (image.isNull()) return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage ImageCache::imageNamed(const QString& name) {
    if (name.isEmpty()) return QImage();
    auto it = images_.find(name);
    if (it != images_.end()) return it->second;
    QImage image = loadImageNamed(name);
    if (!image.isNull()) images_.emplace(name, image);
    return image;
}

QString ImageCache::sliceKey(const QString& name, const EdgeInsets& i) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, " - %.0f, %.0f, %.0f, %.0f", i.left, i.right, i.top, i.bottom);
    return name + QString::fromLatin1(numbers);
}

std::shared_ptr<const ImageCacheItem> ImageCache::imageWithLeftCap(const QString& name, int cap) {
    return imageWithInset(name, EdgeInsets{0, double(cap), 0, double(cap)});
}

std::shared_ptr<const ImageCacheItem> ImageCache::imageWithTopCap(const QString& name, int cap) {
    return imageWithInset(name, EdgeInsets{double(cap), 0, 0, 0});
}

std::shared_ptr<const ImageCacheItem> ImageCache::imageWithTopCap(const QString& name, int top, int bottom) {
    return imageWithInset(name, EdgeInsets{double(top), 0, double(bottom), 0});
}

std::shared_ptr<const ImageCacheItem> ImageCache::imageWithInset(const QString& name, EdgeInsets in) {
    const QString key = sliceKey(name, in);
    if (auto it = items_.find(key); it != items_.end()) return it->second;
    QImage source = loadImageNamed(name);
    if (source.isNull() || (source.width() == 0 && source.height() == 0)) return nullptr;
    const int W = source.width(), H = source.height();
    int left = int(in.left), right = int(in.right), top = int(in.top), bottom = int(in.bottom);

    // Caps wider than the image would leave a negative inset: every inset is kept inside the
    // image, with at least one column (row) for the stretchable centre where there is room.
    auto clampStart = [](int cap, int size) { return std::clamp(cap, 0, std::max(0, size - 1)); };
    auto clampEnd = [](int start, int end, int size) {
        if (start + end > size - 1) end = size - start - 1;
        return std::max(0, end);
    };

    std::vector<QImage> parts;
    bool vertical = false;
    if (left > 0 && top == 0) {
        if (right == 0) right = left;
        left = clampStart(left, W);
        right = clampEnd(left, right, W);
        const int centre = W - left - right;
        parts = {slice(source, 0, 0, left, H), slice(source, left, 0, centre, H), slice(source, W - right, 0, right, H)};
    } else if (left == 0 && top > 0) {
        vertical = true;
        top = clampStart(top, H);
        if (bottom == 0) bottom = H - top - 1;
        bottom = clampEnd(top, bottom, H);
        const int centre = H - top - bottom;
        parts = {slice(source, 0, 0, W, top), slice(source, 0, top, W, centre), slice(source, 0, H - bottom, W, bottom)};
    } else if (left > 0 && top > 0) {
        left = clampStart(left, W);
        top = clampStart(top, H);
        if (bottom == 0) bottom = H - top - 1;
        if (right == 0) right = W - left - 1;
        right = clampEnd(left, right, W);
        bottom = clampEnd(top, bottom, H);
        const int cw = W - left - right, ch = H - top - bottom;
        const int xs[3] = {0, left, W - right}, ws[3] = {left, cw, right};
        const int ys[3] = {0, top, H - bottom}, hs[3] = {top, ch, bottom};
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col) parts.push_back(slice(source, xs[col], ys[row], ws[col], hs[row]));
    }
    auto item = std::make_shared<const ImageCacheItem>(std::move(parts), vertical);
    items_.emplace(key, item);
    return item;
}

}  // namespace telvo::app
