// Slicing and drawing of the image cache, checked on pixels in Qt's top-left coordinates.
#include "app/drawing/ImageCache.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPainter>

#include "QtTestEnvironment.h"
#include "app/Coordinates.h"
#include "app/drawing/Canvas.h"

namespace telvo::app {
namespace {

// Every pixel its own colour: red from x, green from y.
QImage gridImage(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgba(x * 8 % 256, y * 8 % 256, 100, 255));
    return image;
}

class ImageCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::resetApplication();
        folder_ = testing::scratchFolder() + QStringLiteral("/images-") +
                  QString::fromStdString(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    QImage draw(const ImageCacheItem& item, int w, int h) {
        QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        item.drawInRect(p, QRectF(0, 0, w, h));
        p.end();
        return out;
    }
    QString folder_;
};

TEST(CoordinateRule, ConvertsTheDesignsBottomUpNumbers) {
    EXPECT_EQ(qtY(63, 300, 441), 78);  // an overlay page
    EXPECT_EQ(qtY(13, 14, 30), 3);     // a 14-high button 13 up in a 30-high bar
    EXPECT_EQ(qtY(9, 14, 30), 7);      // the controls view at (10, 9)
    EXPECT_EQ(qtY(0, 30, 30), 0);
}

TEST_F(ImageCacheTest, LeftCapKeepsItsColumnsAtEveryWidth) {
    testing::writePng(folder_, "bar", gridImage(30, 20));
    ImageCache cache(folder_);
    auto item = cache.imageWithLeftCap("bar", 10);
    ASSERT_TRUE(item);
    ASSERT_EQ(item->parts().size(), 3u);
    EXPECT_FALSE(item->isVertical());
    const QImage source = gridImage(30, 20);
    for (int width : {40, 300}) {
        SCOPED_TRACE(width);
        QImage out = draw(*item, width, 20);
        for (int y : {0, 7, 19})
            for (int x = 0; x < 10; ++x) {
                EXPECT_EQ(out.pixel(x, y), source.pixel(x, y)) << x << "," << y;
                EXPECT_EQ(out.pixel(width - 10 + x, y), source.pixel(20 + x, y)) << x << "," << y;
            }
    }
}

TEST_F(ImageCacheTest, CapsAreClampedToTheImage) {
    struct Case {
        int width, cap, left, centre, right;
    };
    // A 15-wide image gives 10, 1, 4; a cap as wide as the image never goes negative.
    for (auto c : {Case{15, 10, 10, 1, 4}, Case{30, 10, 10, 10, 10}, Case{8, 10, 7, 1, 0}, Case{21, 10, 10, 1, 10}}) {
        SCOPED_TRACE(c.width);
        const QString name = QStringLiteral("w%1").arg(c.width);
        testing::writePng(folder_, name, gridImage(c.width, 20));
        ImageCache cache(folder_);
        auto item = cache.imageWithLeftCap(name, c.cap);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->parts()[0].width(), c.left);
        EXPECT_EQ(item->parts()[1].width(), c.centre);
        EXPECT_EQ(item->parts()[2].width(), c.right);
    }
    // The centre of the 15-wide image is its column 10, the right cap columns 11 to 14.
    ImageCache cache(folder_);
    auto item = cache.imageWithLeftCap("w15", 10);
    const QImage source = gridImage(15, 20);
    EXPECT_EQ(item->parts()[1].pixel(0, 3), source.pixel(10, 3));
    EXPECT_EQ(item->parts()[2].pixel(0, 3), source.pixel(11, 3));
    EXPECT_EQ(item->parts()[2].pixel(3, 3), source.pixel(14, 3));
}

TEST_F(ImageCacheTest, TopCapCutsRowsFromTheTop) {
    testing::writePng(folder_, "tall", gridImage(12, 20));
    ImageCache cache(folder_);
    auto item = cache.imageWithTopCap("tall", 5);
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->isVertical());
    ASSERT_EQ(item->parts().size(), 3u);
    EXPECT_EQ(item->parts()[0].height(), 5);
    EXPECT_EQ(item->parts()[1].height(), 1);
    EXPECT_EQ(item->parts()[2].height(), 14);
    const QImage source = gridImage(12, 20);
    EXPECT_EQ(item->parts()[0].pixel(2, 0), source.pixel(2, 0));
    EXPECT_EQ(item->parts()[1].pixel(2, 0), source.pixel(2, 5));  // directly under the top cap
    EXPECT_EQ(item->parts()[2].pixel(2, 13), source.pixel(2, 19));
    // Drawn taller, the caps keep their rows at the top and bottom.
    QImage out = draw(*item, 12, 60);
    EXPECT_EQ(out.pixel(4, 4), source.pixel(4, 4));
    EXPECT_EQ(out.pixel(4, 30), source.pixel(4, 5));
    EXPECT_EQ(out.pixel(4, 59), source.pixel(4, 19));
    EXPECT_EQ(out.pixel(4, 46), source.pixel(4, 6));
}

TEST_F(ImageCacheTest, NinePartCornersAreExact) {
    testing::writePng(folder_, "panel", gridImage(30, 30));
    ImageCache cache(folder_);
    auto item = cache.imageWithInset("panel", EdgeInsets{5, 6, 7, 8});
    ASSERT_TRUE(item);
    ASSERT_EQ(item->parts().size(), 9u);
    const QImage source = gridImage(30, 30);
    QImage out = draw(*item, 100, 80);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(out.pixel(x, y), source.pixel(x, y));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(out.pixel(92 + x, y), source.pixel(22 + x, y));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(out.pixel(x, 73 + y), source.pixel(x, 23 + y));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(out.pixel(92 + x, 73 + y), source.pixel(22 + x, 23 + y));
}

TEST_F(ImageCacheTest, ItemsAreCachedUnderTheirSliceKey) {
    testing::writePng(folder_, "ui-button-20", gridImage(30, 20));
    ImageCache cache(folder_);
    auto first = cache.imageWithLeftCap("ui-button-20", 10);
    EXPECT_EQ(ImageCache::sliceKey("ui-button-20", EdgeInsets{0, 10, 0, 10}), "ui-button-20 - 10, 10, 0, 0");
    EXPECT_TRUE(cache.contains("ui-button-20 - 10, 10, 0, 0"));
    EXPECT_EQ(cache.imageWithLeftCap("ui-button-20", 10), first);
    // Removing the file changes nothing once cut.
    QFile::remove(folder_ + "/ui-button-20.png");
    EXPECT_EQ(cache.imageWithLeftCap("ui-button-20", 10), first);
}

TEST_F(ImageCacheTest, UnknownNamesAreLookedUpAgainLater) {
    ImageCache cache(folder_);
    EXPECT_TRUE(cache.imageNamed("later").isNull());
    EXPECT_FALSE(cache.imageWithLeftCap("later", 10));
    EXPECT_FALSE(cache.contains("later"));
    testing::writePng(folder_, "later", gridImage(30, 20));
    EXPECT_EQ(cache.imageNamed("later").size(), QSize(30, 20));
    EXPECT_TRUE(cache.imageWithLeftCap("later", 10));
}

TEST_F(ImageCacheTest, AnItemWithNoPartsDrawsNothing) {
    testing::writePng(folder_, "plain", gridImage(30, 20));
    ImageCache cache(folder_);
    auto item = cache.imageWithInset("plain", EdgeInsets{});
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->parts().empty());
    QImage out = draw(*item, 40, 20);
    for (int x = 0; x < 40; x += 7) EXPECT_EQ(qAlpha(out.pixel(x, 10)), 0);
    EXPECT_EQ(qAlpha(draw(ImageCacheItem({}, false), 10, 10).pixel(5, 5)), 0);
}

TEST_F(ImageCacheTest, ThreePartNarrowerThanItsCapsStaysInsideTheRectangle) {
    testing::writePng(folder_, "bar", gridImage(30, 20));
    ImageCache cache(folder_);
    auto item = cache.imageWithLeftCap("bar", 10);
    QImage out(40, 20, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    item->drawInRect(p, QRectF(0, 0, 12, 20));
    p.end();
    EXPECT_NE(qAlpha(out.pixel(0, 5)), 0);
    EXPECT_NE(qAlpha(out.pixel(11, 5)), 0);
    EXPECT_EQ(qAlpha(out.pixel(13, 5)), 0);
}

}  // namespace
}  // namespace telvo::app
