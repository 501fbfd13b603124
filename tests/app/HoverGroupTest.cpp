// The hover group of the title bar's own buttons, driven with QTest events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QTest>

#include "QtTestEnvironment.h"
#include "app/cells/TVSImageButton.h"
#include "app/window/TVSWindowControlsView.h"

namespace telvo::app {
namespace {

class HoverGroupTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::resetApplication();
        window_ = std::make_unique<QWidget>();
        window_->resize(200, 60);
        controls_ = new TVSWindowControlsView(window_.get());
        controls_->move(10, 7);
        close_ = makeButton("traffic-close", 0);
        minimise_ = makeButton("traffic-minimise", 20);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    void TearDown() override {
        window_.reset();
        testing::resetApplication();
    }
    TVSImageButton* makeButton(const QString& base, int x) {
        auto* b = new TVSImageButton(controls_);
        b->setGeometry(x, 0, 14, 14);
        b->setImage(base);
        b->setAlternateImage(base + "-down");
        b->setHoverImage(base + "-hover");
        return b;
    }
    void enter() {
        QEnterEvent event(QPointF(5, 5), QPointF(15, 12), QPointF(15, 12));
        QApplication::sendEvent(controls_, &event);
    }
    void leave() {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(controls_, &event);
    }
    std::unique_ptr<QWidget> window_;
    TVSWindowControlsView* controls_ = nullptr;
    TVSImageButton* close_ = nullptr;
    TVSImageButton* minimise_ = nullptr;
};

TEST_F(HoverGroupTest, EnterAndLeaveSwapBothButtonsImages) {
    enter();
    EXPECT_EQ(close_->image(), "traffic-close-hover");
    EXPECT_EQ(minimise_->image(), "traffic-minimise-hover");
    EXPECT_EQ(close_->standardImage(), "traffic-close");
    close_->grab();
    EXPECT_EQ(close_->lastDrawnImage(), "traffic-close-hover");
    leave();
    EXPECT_EQ(close_->image(), "traffic-close");
    EXPECT_EQ(minimise_->image(), "traffic-minimise");
}

TEST_F(HoverGroupTest, PressingShowsTheAlternateAndAClickEndsTheHover) {
    int clicks = 0;
    QObject::connect(close_, &QAbstractButton::clicked, [&] { ++clicks; });
    enter();
    QTest::mousePress(close_, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(close_->imageToDraw(), "traffic-close-down");
    close_->grab();
    EXPECT_EQ(close_->lastDrawnImage(), "traffic-close-down");
    QTest::mouseRelease(close_, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(clicks, 1);
    // After the click both buttons show their standard images until the pointer comes back.
    EXPECT_EQ(close_->image(), "traffic-close");
    EXPECT_EQ(minimise_->image(), "traffic-minimise");
    enter();
    EXPECT_EQ(minimise_->image(), "traffic-minimise-hover");
}

TEST_F(HoverGroupTest, AButtonWithoutHoverImageKeepsItsImage) {
    auto* plain = new TVSImageButton(controls_);
    plain->setImage("connected");
    enter();
    EXPECT_EQ(plain->image(), "connected");
    leave();
    EXPECT_EQ(plain->image(), "connected");
    int unhovers = 0;
    auto token = notify::NotificationCenter::defaultCenter().addObserver(
        TVSWindowControlsView::kDidUnHover, nullptr, nullptr, [&](const notify::Notification&) { ++unhovers; });
    plain->setGeometry(60, 0, 14, 14);
    QTest::mouseClick(plain, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(unhovers, 0);  // only a button of the group ends the hover
    QTest::mouseClick(close_, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(unhovers, 1);
    notify::NotificationCenter::defaultCenter().removeObserver(token);
}

}  // namespace
}  // namespace telvo::app
