// The image-drawn cells and views: which images they draw where, read from the recorded draw
// calls (text rectangles too), with a few pixel checks on the built artwork.
#include <gtest/gtest.h>

#include <QPainter>

#include "QtTestEnvironment.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/CheckboxCell.h"
#include "app/cells/ClientsTableHeaderCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/ImageViews.h"
#include "app/cells/InstallButtonCell.h"
#include "app/cells/LabelCell.h"
#include "app/cells/PopUpButtonCell.h"

namespace telvo::app {
namespace {

class CellsTest : public ::testing::Test {
protected:
    void SetUp() override { testing::resetApplication(); }
};

DrawLog paint(QSize size, const std::function<void(Canvas&)>& f, QImage* image = nullptr) {
    DrawLog log;
    QImage out = renderToImage(size, f, &log);
    if (image) *image = out;
    return log;
}

TEST_F(CellsTest, CheckboxPicksItsBoxImage) {
    struct Case {
        int state;
        bool highlighted;
        const char* image;
    };
    // A mixed state draws with the off images.
    for (auto c : {Case{1, false, "ui-checkbox-20-on"}, Case{1, true, "ui-checkbox-20-on-down"},
                   Case{0, false, "ui-checkbox-20"}, Case{0, true, "ui-checkbox-20-down"},
                   Case{-1, false, "ui-checkbox-20"}, Case{-1, true, "ui-checkbox-20-down"}}) {
        CheckboxCell cell;
        cell.state = c.state;
        cell.highlighted = c.highlighted;
        cell.title = "Start at login";
        auto log = paint(QSize(120, 20), [&](Canvas& k) { paintCheckboxCell(k, cell, QRectF(0, 0, 120, 20)); });
        EXPECT_EQ(log.imageNames(), std::vector<QString>{c.image}) << c.state << c.highlighted;
    }
}

TEST_F(CellsTest, CheckboxPlacesBoxAndTitle) {
    CheckboxCell cell;
    cell.title = "Start at login";
    // Left-aligned in a frame at x 30: box at the frame's x, title from 19.
    auto log = paint(QSize(200, 20), [&](Canvas& k) { paintCheckboxCell(k, cell, QRectF(30, 0, 100, 20)); });
    EXPECT_EQ(log.of(DrawCall::Kind::Image)[0].rect.topLeft(), QPointF(30, 0));
    EXPECT_EQ(log.of(DrawCall::Kind::Text)[0].rect, QRectF(19, 5, 78, 14));

    // Right-aligned, 100 wide: box at +86, title in (0, 5, 81, 14), right-aligned, grey 0.4.
    cell.rightAligned = true;
    QImage image;
    log = paint(QSize(100, 20), [&](Canvas& k) { paintCheckboxCell(k, cell, QRectF(0, 0, 100, 20)); }, &image);
    EXPECT_EQ(log.of(DrawCall::Kind::Image)[0].rect.topLeft(), QPointF(86, 0));
    auto title = log.of(DrawCall::Kind::Text)[0];
    EXPECT_EQ(title.rect, QRectF(0, 5, 81, 14));
    EXPECT_EQ(title.alignment, int(Qt::AlignRight));
    EXPECT_NEAR(title.grey, 0.4, 0.002);
    EXPECT_EQ(title.fontFamily, "Helvetica");
    EXPECT_EQ(title.fontSize, 11);
    // The box's pixels are there: its border crosses column 86 + 7 at row 3.
    EXPECT_NE(qAlpha(image.pixel(93, 3)), 0);
    EXPECT_EQ(qAlpha(image.pixel(84, 10)), 0);

    // No title: the box goes to x 0 whatever the frame.
    cell.title.clear();
    log = paint(QSize(200, 20), [&](Canvas& k) { paintCheckboxCell(k, cell, QRectF(30, 0, 100, 20)); });
    EXPECT_EQ(log.of(DrawCall::Kind::Image)[0].rect.x(), 0);
}

TEST_F(CellsTest, DisabledCheckboxDrawsItsBoxAtHalfOpacityAndItsTitleUnchanged) {
    CheckboxCell cell;
    cell.title = "Start at login";
    QImage enabledImage, disabledImage;
    auto enabled = paint(QSize(120, 20), [&](Canvas& k) { paintCheckboxCell(k, cell, QRectF(0, 0, 120, 20)); }, &enabledImage);
    cell.enabled = false;
    auto disabled = paint(QSize(120, 20), [&](Canvas& k) { paintCheckboxCell(k, cell, QRectF(0, 0, 120, 20)); }, &disabledImage);
    EXPECT_EQ(enabled.of(DrawCall::Kind::Image)[0].alpha, 1.0);
    EXPECT_EQ(disabled.of(DrawCall::Kind::Image)[0].alpha, 0.5);
    EXPECT_EQ(enabled.of(DrawCall::Kind::Text)[0].rect, disabled.of(DrawCall::Kind::Text)[0].rect);
    EXPECT_EQ(enabled.of(DrawCall::Kind::Text)[0].grey, disabled.of(DrawCall::Kind::Text)[0].grey);
    // On pixels: the box's opaque border is half as opaque; the title's pixels are the same.
    EXPECT_NEAR(qAlpha(disabledImage.pixel(7, 3)), qAlpha(enabledImage.pixel(7, 3)) / 2.0, 2);
    for (int x = 19; x < 118; ++x)
        for (int y = 5; y < 19; ++y) ASSERT_EQ(enabledImage.pixel(x, y), disabledImage.pixel(x, y)) << x << "," << y;
}

TEST_F(CellsTest, PasscodeBackgroundDrawsByMode) {
    for (auto [mode, name] : {std::pair{0, "passcode-background"}, {1, "password-background"}, {2, "passcode-background"},
                              {-1, "passcode-background"}}) {
        PasscodeBackground view;
        view.resize(300, 150);
        view.setMode(mode);
        view.grab();
        ASSERT_EQ(view.lastDraw().imageNames().size(), 1u);
        EXPECT_EQ(view.lastDraw().imageNames()[0], name) << mode;
        // At the unflipped origin: the 120-high image sits on the view's bottom edge.
        EXPECT_EQ(view.lastDraw().calls[0].rect, QRectF(0, 30, 300, 120));
    }
}

TEST_F(CellsTest, BackgroundViewsDrawTheirImages) {
    TVSAboutBackground about;
    TVSSheetHeader header;
    InstallBackground install;
    TVSPasscodeBar bar;
    bar.resize(200, 30);
    for (QWidget* w : std::initializer_list<QWidget*>{&about, &header, &install}) w->resize(500, 300);
    struct Case {
        ImageBackgroundView* view;
        const char* name;
        QRectF rect;
    };
    for (auto c : {Case{&about, "window-about", QRectF(0, 100, 320, 200)}, Case{&header, "sheet-header", QRectF(0, 260, 480, 40)},
                   Case{&install, "welcome-overlay", QRectF(0, 0, 500, 300)}, Case{&bar, "buttonarea-background", QRectF(0, 0, 200, 30)}}) {
        c.view->grab();
        ASSERT_EQ(c.view->lastDraw().calls.size(), 1u) << c.name;
        EXPECT_EQ(c.view->lastDraw().calls[0].name, c.name);
        EXPECT_EQ(c.view->lastDraw().calls[0].rect, c.rect) << c.name;
    }
}

TEST_F(CellsTest, ButtonsAndPopUpsStretchTheirThreePartImages) {
    auto log = paint(QSize(200, 20), [](Canvas& k) { paintButtonCell(k, ButtonCell{false, "Apply"}, QRectF(0, 0, 120, 20)); });
    ASSERT_EQ(log.imageNames(), std::vector<QString>{"ui-button-20"});
    EXPECT_EQ(log.calls[0].rect, QRectF(0, 0, 120, 20));
    EXPECT_EQ(log.of(DrawCall::Kind::Text)[0].rect, QRectF(5, 3, 110, 14));
    EXPECT_EQ(log.of(DrawCall::Kind::Text)[0].alignment, int(Qt::AlignHCenter));

    QImage image;
    log = paint(QSize(200, 20), [](Canvas& k) { paintPopUpButtonCell(k, PopUpButtonCell{true, "English"}, QRectF(0, 0, 150, 20)); }, &image);
    ASSERT_EQ(log.imageNames(), std::vector<QString>{"ui-popup-20-down"});
    EXPECT_EQ(log.calls[0].rect, QRectF(0, 0, 150, 20));
    EXPECT_EQ(log.of(DrawCall::Kind::Text)[0].rect, QRectF(8, 3, 123, 14));
    // The pop-up's right cap (with its arrows) keeps its pixels at the right end.
    QImage source = ImageCache::sharedCache().imageNamed("ui-popup-20-down");
    ASSERT_FALSE(source.isNull());
    for (int x = 0; x < 10; ++x) EXPECT_EQ(image.pixel(140 + x, 7), source.pixel(30 + x, 7)) << x;
}

TEST_F(CellsTest, InstallButtonGuardsItsCentre) {
    QImage source(120, 40, QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x < 120; ++x)
        for (int y = 0; y < 40; ++y) source.setPixel(x, y, qRgba(x * 2, 50, 50, 255));
    struct Case {
        double width;
        int centre;
    };
    // Narrower than the two caps: no negative centre; wider than the source: the centre is
    // cut from the source's width, so the right cap keeps the source's last 30 columns.
    for (auto c : {Case{40, 0}, Case{60, 0}, Case{100, 40}, Case{300, 60}}) {
        auto item = installButtonSlices(source, c.width);
        EXPECT_EQ(item.parts()[0].width(), 30);
        EXPECT_EQ(item.parts()[1].width(), c.centre);
        EXPECT_EQ(item.parts()[2].width(), 30);
        EXPECT_EQ(item.parts()[2].pixel(29, 5), source.pixel(119, 5));
    }
    QImage image;
    auto log = paint(QSize(300, 40), [](Canvas& k) { paintInstallButtonCell(k, InstallButtonCell{false, "Install"}, QRectF(0, 0, 300, 40)); }, &image);
    ASSERT_EQ(log.imageNames(), std::vector<QString>{"welcome-button"});
    auto title = log.of(DrawCall::Kind::Text)[0];
    EXPECT_EQ(title.rect, QRectF(5, 7, 290, 20));
    EXPECT_EQ(title.fontFamily, "Helvetica Neue");
    QImage art = ImageCache::sharedCache().imageNamed("welcome-button");
    EXPECT_EQ(image.pixel(299, 20), art.pixel(119, 20));
    EXPECT_EQ(image.pixel(0, 20), art.pixel(0, 20));
    // Narrower than its caps: the drawing stays inside the button.
    log = paint(QSize(60, 40), [](Canvas& k) { paintInstallButtonCell(k, InstallButtonCell{true, "OK"}, QRectF(0, 0, 40, 40)); }, &image);
    EXPECT_EQ(log.imageNames(), std::vector<QString>{"welcome-button-down"});
    EXPECT_EQ(qAlpha(image.pixel(45, 20)), 0);
}

TEST_F(CellsTest, HeaderAndLabelDrawTheirTextWithShadows) {
    auto log = paint(QSize(100, 18), [](Canvas& k) { paintClientsTableHeaderCell(k, "Address", QRectF(0, 0, 100, 18)); });
    auto fills = log.of(DrawCall::Kind::Fill);
    ASSERT_EQ(fills.size(), 3u);
    EXPECT_EQ(fills[0].rect, QRectF(0, 1, 100, 16));
    EXPECT_EQ(fills[1].rect, QRectF(0, 0, 100, 1));
    EXPECT_EQ(fills[2].rect, QRectF(0, 17, 100, 1));
    EXPECT_NEAR(fills[2].grey, 0.85, 1e-9);
    auto title = log.of(DrawCall::Kind::Text)[0];
    EXPECT_EQ(title.rect.x(), 2);
    EXPECT_NEAR(title.rect.y(), (18 - title.rect.height()) / 2, 1e-9);
    EXPECT_NEAR(title.grey, 0.502, 0.002);

    log = paint(QSize(100, 20), [](Canvas& k) { paintLabelCell(k, "Clients", QRectF(0, 0, 100, 20)); });
    EXPECT_EQ(log.of(DrawCall::Kind::Text)[0].rect, QRectF(0, 0, 100, 20));
    EXPECT_EQ(log.of(DrawCall::Kind::Text)[0].fontSize, 12);
}

TEST_F(CellsTest, WidgetsRecordWhatTheyDraw) {
    TVSCheckbox box;
    box.setText("Share");
    box.resize(100, 20);
    box.setChecked(true);
    box.grab();
    EXPECT_EQ(box.lastDraw().imageNames(), std::vector<QString>{"ui-checkbox-20-on"});
    box.setEnabled(false);
    box.grab();
    EXPECT_EQ(box.lastDraw().calls[0].alpha, 0.5);

    TVSButton button;
    button.setText("Apply");
    button.resize(80, 20);
    button.grab();
    EXPECT_EQ(button.lastDraw().imageNames(), std::vector<QString>{"ui-button-20"});
    button.setDown(true);
    button.grab();
    EXPECT_EQ(button.lastDraw().imageNames(), std::vector<QString>{"ui-button-20-down"});
}

TEST_F(CellsTest, ImageViewsRecordTheNameTheyDraw) {
    ImageView view;
    view.resize(40, 52);
    view.setImageName("passcode-7");
    QImage shot = view.grab().toImage();
    EXPECT_EQ(view.lastDrawnImage(), "passcode-7");
    EXPECT_NE(qAlpha(shot.pixel(20, 26)), 0);
    view.setImageName("");
    shot = view.grab().toImage();
    EXPECT_EQ(view.lastDrawnImage(), "");
    // A missing image records its name and draws nothing.
    view.setImageName("no-such-image");
    view.grab();
    EXPECT_EQ(view.lastDrawnImage(), "no-such-image");
}

}  // namespace
}  // namespace telvo::app
