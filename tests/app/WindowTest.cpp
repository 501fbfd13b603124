// The title-bar window: its layout table in Qt's coordinates, sheets, full screen, the
// controls view's images, the default drawing, double click and dragging.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "QtTestEnvironment.h"
#include "app/ApplicationState.h"
#include "app/window/INAppStoreWindow.h"
#include "app/window/INTitlebarContainer.h"
#include "app/window/INTitlebarView.h"
#include "app/window/NoiseTexture.h"
#include "app/window/StandardWindowButton.h"
#include "app/window/TVSWindow.h"
#include "app/window/TVSWindowControlsView.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/values/PropertyList.h"

namespace telvo::app {
namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::resetApplication();
        window_ = std::make_unique<INAppStoreWindow>();
        window_->resize(630, 441);
    }
    void TearDown() override {
        window_.reset();
        testing::resetApplication();
    }
    QPoint buttonPos(INAppStoreWindow::Button b) { return window_->standardWindowButton(b)->pos(); }
    std::unique_ptr<INAppStoreWindow> window_;
};

TEST_F(WindowTest, LayoutTable) {
    // Fresh: the frame's own bar, buttons centred at the default margin and separation.
    EXPECT_EQ(window_->titleBarHeight(), 22);
    EXPECT_EQ(window_->cachedTitleBarHeight(), 0);
    EXPECT_TRUE(window_->centerTrafficLightButtons());
    EXPECT_TRUE(window_->showsBaselineSeparator());
    EXPECT_EQ(buttonPos(INAppStoreWindow::Button::Close), QPoint(7, 4));

    window_->setTitleBarHeight(30);
    EXPECT_EQ(window_->cachedTitleBarHeight(), 30);
    EXPECT_EQ(window_->titleBarContainer()->geometry(), QRect(0, 0, 630, 30));
    EXPECT_EQ(window_->titleBarView()->geometry(), QRect(0, 0, 630, 30));
    const int layouts = window_->layoutCount();
    window_->setTitleBarHeight(30);  // the same height: no layout
    EXPECT_EQ(window_->layoutCount(), layouts);

    struct Case {
        bool centre;
        double margin;
        int closeX, minimiseX, zoomX, y;
    };
    // A 14-high button 13 up from the bottom of a 30-high bar is 3 from its top; centred, 8.
    for (auto c : {Case{false, 7, 7, 27, 47, 3}, Case{true, 7, 7, 27, 47, 8}, Case{true, -100, -100, -80, -60, 8},
                   Case{false, -100, -100, -80, -60, 3}}) {
        window_->setCenterTrafficLightButtons(c.centre);
        window_->setTrafficLightButtonsLeftMargin(c.margin);
        EXPECT_EQ(buttonPos(INAppStoreWindow::Button::Close), QPoint(c.closeX, c.y));
        EXPECT_EQ(buttonPos(INAppStoreWindow::Button::Miniaturize), QPoint(c.minimiseX, c.y));
        EXPECT_EQ(buttonPos(INAppStoreWindow::Button::Zoom), QPoint(c.zoomX, c.y));
    }
    // A taller bar re-centres them.
    window_->setCenterTrafficLightButtons(true);
    window_->setTitleBarHeight(40);
    EXPECT_EQ(window_->layoutCount(), layouts + 6);
    EXPECT_EQ(buttonPos(INAppStoreWindow::Button::Close).y(), 13);
    // Resizing the window lays out again: the bar spans the new width.
    window_->show();
    window_->resize(700, 441);
    EXPECT_EQ(window_->titleBarContainer()->width(), 700);
}

TEST_F(WindowTest, SheetsStartUnderTheTitleBar) {
    window_->setTitleBarHeight(30);
    for (QRectF proposed : {QRectF(100, 0, 400, 0), QRectF(0, 300, 630, 0), QRectF(10, -50, 5, 5)}) {
        QRectF placed = window_->positionSheet(proposed);
        EXPECT_EQ(placed.y(), 30);
        EXPECT_EQ(placed.x(), proposed.x());
        EXPECT_EQ(placed.size(), proposed.size());
    }
}

TEST_F(WindowTest, ASheetHangsInsideTheWindowAndDisablesTheRestUntilItEnds) {
    window_->resize(630, 412);
    window_->setTitleBarHeight(30);
    auto* field = new QPushButton(window_->contentView());
    auto sheet = std::make_unique<QWidget>();
    sheet->resize(480, 200);
    std::vector<int> ended;
    ASSERT_TRUE(window_->beginSheet(sheet.get(), [&](QWidget* which, int code) {
        EXPECT_EQ(which, sheet.get());
        ended.push_back(code);
    }));
    EXPECT_EQ(sheet->parentWidget(), window_.get());
    EXPECT_EQ(sheet->geometry(), QRect(75, 30, 480, 200));
    EXPECT_EQ(INAppStoreWindow::sheetParent(sheet.get()), window_.get());
    EXPECT_FALSE(field->isEnabled());
    EXPECT_FALSE(window_->titleBarContainer()->isEnabled());
    EXPECT_TRUE(sheet->isEnabled());
    // One sheet at a time; ending another widget changes nothing.
    QWidget other;
    EXPECT_FALSE(window_->beginSheet(&other, nullptr));
    window_->endSheet(&other, 5);
    EXPECT_TRUE(ended.empty());

    window_->endSheet(sheet.get(), 7);
    EXPECT_EQ(ended, std::vector<int>{7});
    EXPECT_EQ(sheet->parentWidget(), nullptr);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(field->isEnabled());
    EXPECT_EQ(window_->attachedSheet(), nullptr);
    EXPECT_EQ(INAppStoreWindow::sheetParent(sheet.get()), nullptr);
    window_->endSheet(sheet.get(), 8);  // ended once only
    EXPECT_EQ(ended.size(), 1u);

    // A window that goes away leaves its sheet to the sheet's owner.
    ASSERT_TRUE(window_->beginSheet(sheet.get(), nullptr));
    window_.reset();
    EXPECT_EQ(sheet->parentWidget(), nullptr);
}

TEST_F(WindowTest, WindowsAreFrameless) {
    EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
    TVSWindow titled(1 | 2 | 4 | 8);  // titled, closable, miniaturizable, resizable
    EXPECT_TRUE(titled.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(titled.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(titled.canBecomeKeyWindow());
}

TEST_F(WindowTest, ControlsViewImageFollowsActivityAndTint) {
    struct Case {
        bool active;
        int tint;
        const char* image;
    };
    for (auto c : {Case{false, 1, "traffic-all-disabled"}, Case{false, 6, "traffic-all-disabled"},
                   Case{true, 6, "traffic-all-graphite"}, Case{true, 1, "traffic-all"}, Case{true, 0, "traffic-all"}}) {
        ApplicationState::shared().setActiveForTesting(c.active);
        ApplicationState::shared().setControlTintForTesting(c.tint);
        TVSWindowControlsView view;
        view.grab();
        EXPECT_EQ(view.lastDrawnImage(), c.image) << c.active << " " << c.tint;
        EXPECT_EQ(view.size(), QSize(34, 14));
    }
}

TEST_F(WindowTest, TintComesFromTheGlobalDefaults) {
    const QString folder = testing::scratchFolder() + "/prefs-tint";
    QDir().mkpath(folder);
    defaults::UserDefaults::setPreferencesFolderForTesting(folder.toStdString());
    defaults::UserDefaults::resetForTesting();
    EXPECT_EQ(ApplicationState::shared().controlTint(), 1);
    Value global(ValueDictionary{});
    global.set("AppleAquaColorVariant", 6);
    ASSERT_TRUE(plist::writeFile(global, defaults::UserDefaults::pathForDomain(".GlobalPreferences")));
    defaults::UserDefaults::resetForTesting();
    EXPECT_TRUE(ApplicationState::shared().isGraphite());
}

TEST_F(WindowTest, TitleBarControlsFollowTheActiveLook) {
    auto* control = new QPushButton(window_->titleBarView());
    window_->setMainForTesting(true);
    ApplicationState::shared().setActiveForTesting(true);
    EXPECT_TRUE(window_->drawsAsMainWindow());
    EXPECT_TRUE(control->isEnabled());
    ApplicationState::shared().setActiveForTesting(false);  // posted: the window updates itself
    EXPECT_FALSE(control->isEnabled());
    ApplicationState::shared().setActiveForTesting(true);
    window_->setMainForTesting(false);
    EXPECT_FALSE(control->isEnabled());
}

TEST_F(WindowTest, DefaultDrawingAndBlock) {
    window_->setTitleBarHeight(30);
    auto* view = static_cast<INTitlebarView*>(window_->titleBarView());
    window_->setMainForTesting(true);
    ApplicationState::shared().setActiveForTesting(true);
    struct Case {
        bool main, light;
        double separator;
        bool whiteLine;
    };
    for (auto c : {Case{true, false, 0.408, true}, Case{false, false, 0.62, true}, Case{true, true, 0.569, false},
                   Case{false, true, 0.745, false}}) {
        window_->setMainForTesting(c.main);
        window_->setUseLightBaselineSeparator(c.light);
        QImage image = window_->grab().toImage();
        EXPECT_EQ(view->lastDrawing().separatorGrey, c.separator);
        EXPECT_EQ(view->lastDrawing().whiteLine, c.whiteLine);
        EXPECT_EQ(view->lastDrawing().noise, c.main);
        EXPECT_NEAR(qRed(image.pixel(300, 29)), c.separator * 255, 1.5);
    }
    window_->setShowsBaselineSeparator(false);
    window_->grab();
    EXPECT_EQ(view->lastDrawing().separatorGrey, -1);

    bool called = false;
    QRectF drawn;
    window_->setTitleBarDrawingBlock([&](QPainter& p, bool asMain, const QPainterPath& clip, const QRectF& rect) {
        called = true;
        drawn = rect;
        EXPECT_FALSE(asMain);
        EXPECT_TRUE(clip.contains(QPointF(315, 29)));
        EXPECT_FALSE(clip.contains(QPointF(0.2, 0.2)));  // rounded top corner
        p.fillRect(rect, Qt::red);
    });
    QImage image = window_->grab().toImage();
    EXPECT_TRUE(called);
    EXPECT_EQ(drawn, QRectF(0, 0, 630, 30));
    EXPECT_TRUE(view->lastDrawing().usedBlock);
    EXPECT_EQ(image.pixel(300, 15), qRgb(255, 0, 0));
}

TEST_F(WindowTest, NoiseTextureIsOurOwnSeededSequence) {
    const QImage& noise = noiseTexture();
    EXPECT_EQ(noise.size(), QSize(124, 124));
    NoiseGenerator generator(120);
    for (int i = 0; i < 124 * 2; ++i) ASSERT_EQ(noise.constScanLine(i / 124)[i % 124], generator.next() & 0xff);
    EXPECT_EQ(&noiseTexture(), &noise);
}

TEST_F(WindowTest, FullScreenCollapsesAndRestoresTheTitleBar) {
    window_->setTitleBarHeight(30);
    window_->windowWillEnterFullScreen();  // without the flag: nothing changes
    EXPECT_EQ(window_->titleBarHeight(), 30);
    window_->setHideTitleBarInFullScreen(true);
    window_->show();
    window_->windowWillEnterFullScreen();
    EXPECT_EQ(window_->titleBarHeight(), 0);
    EXPECT_EQ(window_->titleBarContainer()->height(), 0);
    EXPECT_FALSE(window_->titleBarView()->isVisible());
    window_->windowWillExitFullScreen();
    EXPECT_EQ(window_->titleBarHeight(), 30);
    EXPECT_EQ(window_->titleBarContainer()->height(), 30);
    EXPECT_TRUE(window_->titleBarView()->isVisible());
}

TEST_F(WindowTest, SetTitleBarViewIgnoresNullAndTheSameView) {
    QWidget* original = window_->titleBarView();
    window_->setTitleBarView(nullptr);
    EXPECT_EQ(window_->titleBarView(), original);
    window_->setTitleBarView(original);
    EXPECT_EQ(window_->titleBarView(), original);
    EXPECT_FALSE(original->isHidden());
    window_->setTitleBarHeight(30);
    auto* replacement = new QWidget;
    window_->setTitleBarView(replacement);
    EXPECT_EQ(window_->titleBarView(), replacement);
    EXPECT_EQ(replacement->parentWidget(), window_->titleBarContainer());
    EXPECT_EQ(replacement->geometry(), QRect(0, 0, 630, 30));
}

TEST_F(WindowTest, DoubleClickMinimisesOnlyWhenTheUserAsks) {
    const QString folder = testing::scratchFolder() + "/prefs-dblclick";
    QDir().mkpath(folder);
    defaults::UserDefaults::setPreferencesFolderForTesting(folder.toStdString());
    window_->setTitleBarHeight(30);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    for (bool setting : {false, true}) {
        Value global(ValueDictionary{});
        global.set("AppleMiniaturizeOnDoubleClick", setting);
        ASSERT_TRUE(plist::writeFile(global, defaults::UserDefaults::pathForDomain(".GlobalPreferences")));
        defaults::UserDefaults::resetForTesting();
        window_->setWindowState(Qt::WindowNoState);
        QTest::mouseDClick(window_->titleBarView(), Qt::LeftButton, {}, QPoint(300, 15));
        EXPECT_EQ(bool(window_->windowState() & Qt::WindowMinimized), setting);
    }
}

TEST_F(WindowTest, DraggingTheTitleBarMovesTheWindow) {
    window_->setTitleBarHeight(30);
    window_->move(100, 100);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    const QPoint start = window_->pos();
    QWidget* bar = window_->titleBarContainer();
    auto send = [&](QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(local), QPointF(bar->mapToGlobal(QPoint(0, 0)) + local - (window_->pos() - start)),
                          button, buttons, Qt::NoModifier);
        QApplication::sendEvent(window_->titleBarView(), &event);
    };
    send(QEvent::MouseButtonPress, QPoint(200, 10), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(230, 50), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window_->pos(), start + QPoint(30, 40));
    send(QEvent::MouseMove, QPoint(180, 5), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window_->pos(), start + QPoint(-20, -5));
    send(QEvent::MouseButtonRelease, QPoint(180, 5), Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseMove, QPoint(300, 25), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window_->pos(), start + QPoint(-20, -5));
}

}  // namespace
}  // namespace telvo::app
