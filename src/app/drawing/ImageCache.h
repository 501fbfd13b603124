#pragma once
// The process-wide cache of the application's named images and of their slicings. A named
// image is read once from the bundle's resources; a slicing is cut once per name and insets
// and kept under the key "<name> - <left>, <right>, <top>, <bottom>". Nothing is ever removed;
// a name that is not found is not cached, so a later request looks again. Main thread only.
#include <QImage>
#include <QString>
#include <map>
#include <memory>

#include "app/drawing/EdgeInsets.h"
#include "app/drawing/ImageCacheItem.h"

namespace telvo::app {

class ImageCache {
public:
    // The shared cache, over the application bundle's resources.
    static ImageCache& sharedCache();
    // A cache over another resources folder (tests); empty means the bundle's.
    explicit ImageCache(QString resourcesFolder = QString());

    // The named image, or a null image when there is none.
    QImage imageNamed(const QString& name);
    // The named image read afresh, uncached.
    QImage loadImageNamed(const QString& name) const;

    std::shared_ptr<const ImageCacheItem> imageWithLeftCap(const QString& name, int cap);
    std::shared_ptr<const ImageCacheItem> imageWithTopCap(const QString& name, int cap);
    std::shared_ptr<const ImageCacheItem> imageWithTopCap(const QString& name, int top, int bottom);
    // Null when the image is missing or has no size; nothing is cached then.
    std::shared_ptr<const ImageCacheItem> imageWithInset(const QString& name, EdgeInsets insets);

    static QString sliceKey(const QString& name, const EdgeInsets& insets);
    bool contains(const QString& key) const { return images_.count(key) || items_.count(key); }

    // Empties the shared cache.
    static void resetForTesting();

private:
    QString folder_;
    std::map<QString, QImage> images_;
    std::map<QString, std::shared_ptr<const ImageCacheItem>> items_;
};

// The shared cache's imageNamed().
QImage imageNamed(const QString& name);

}  // namespace telvo::app
