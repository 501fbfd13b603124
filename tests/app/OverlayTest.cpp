// The overlay: placement of its page, fades checked on the animations (not wall time),
// replacing, removing while hidden, and a show during a fade-out.
#include "app/overlay/OverlayController.h"

#include <gtest/gtest.h>

#include "QtTestEnvironment.h"

namespace telvo::app {
namespace {

class OverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::resetApplication();
        parent_ = std::make_unique<QWidget>();
        parent_->resize(630, 441);
        parent_->show();
        page1_ = std::make_unique<QWidget>();
        page1_->resize(500, 300);
        page2_ = std::make_unique<QWidget>();
        page2_->resize(400, 200);
        overlay().setParentWindow(parent_.get());
    }
    void TearDown() override {
        testing::resetApplication();  // the overlay gives its pages back before it goes
        parent_.reset();
    }
    OverlayController& overlay() { return OverlayController::sharedOverlayController(); }
    // Runs an animation to its end at once.
    static void finish(QPropertyAnimation* a) { a->setCurrentTime(a->duration()); }

    std::unique_ptr<QWidget> parent_, page1_, page2_;
};

TEST_F(OverlayTest, PageIsCentredAndTheOverlayFadesIn) {
    auto& o = overlay();
    EXPECT_EQ(o.window()->size(), QSize(630, 441));
    o.showWithView(page1_.get());
    EXPECT_TRUE(o.isShowing());
    EXPECT_EQ(o.window()->parentWidget(), parent_.get());
    EXPECT_EQ(o.window()->pos(), QPoint(0, 0));
    EXPECT_EQ(page1_->parentWidget(), o.window());
    EXPECT_EQ(page1_->pos(), QPoint(65, 78));
    EXPECT_EQ(o.fadeIn()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(o.fadeIn()->duration(), 100);
    EXPECT_EQ(o.fadeIn()->startValue().toDouble(), 0.0);
    EXPECT_EQ(o.fadeIn()->endValue().toDouble(), 1.0);
    EXPECT_EQ(o.window()->alpha(), 0.0);
    finish(o.fadeIn());
    EXPECT_EQ(o.window()->alpha(), 1.0);
}

TEST_F(OverlayTest, FadeOutDetachesAndTakesThePageOut) {
    auto& o = overlay();
    o.showWithView(page1_.get());
    finish(o.fadeIn());
    o.remove();
    EXPECT_EQ(o.fadeOut()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(o.fadeOut()->duration(), 200);
    EXPECT_EQ(o.fadeOut()->endValue().toDouble(), 0.0);
    EXPECT_TRUE(o.isShowing());
    finish(o.fadeOut());
    EXPECT_FALSE(o.isShowing());
    EXPECT_FALSE(o.window()->isVisible());
    EXPECT_EQ(o.window()->alpha(), 1.0);
    EXPECT_EQ(page1_->parentWidget(), nullptr);
}

TEST_F(OverlayTest, ASecondPageReplacesTheFirstWithoutAFade) {
    auto& o = overlay();
    o.showWithView(page1_.get());
    finish(o.fadeIn());
    o.showWithView(page2_.get());
    EXPECT_EQ(page1_->parentWidget(), nullptr);
    EXPECT_EQ(page2_->parentWidget(), o.window());
    EXPECT_EQ(page2_->pos(), QPoint(115, 128));  // (630-400)/2; 441 - (round(120.5) - 8) - 200
    EXPECT_NE(o.fadeIn()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(o.window()->alpha(), 1.0);
    EXPECT_EQ(o.attachCount(), 1);
}

TEST_F(OverlayTest, RemovingWhileHiddenChangesNothing) {
    auto& o = overlay();
    o.remove();
    EXPECT_FALSE(o.isShowing());
    EXPECT_NE(o.fadeOut()->state(), QAbstractAnimation::Running);
    EXPECT_FALSE(o.window()->isVisible());
    EXPECT_EQ(o.attachCount(), 0);
}

TEST_F(OverlayTest, AShowDuringTheFadeOutCancelsIt) {
    auto& o = overlay();
    o.showWithView(page1_.get());
    finish(o.fadeIn());
    o.remove();
    o.fadeOut()->setCurrentTime(100);  // halfway out
    o.showWithView(page2_.get());
    EXPECT_NE(o.fadeOut()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(o.fadeIn()->state(), QAbstractAnimation::Running);
    finish(o.fadeIn());
    EXPECT_TRUE(o.isShowing());
    EXPECT_EQ(o.window()->alpha(), 1.0);
    EXPECT_EQ(page2_->parentWidget(), o.window());
    EXPECT_TRUE(o.window()->isVisible());
    EXPECT_EQ(o.attachCount(), 1);
}

TEST_F(OverlayTest, OverlayDimsTheParentWindow) {
    parent_->setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    parent_->setPalette(palette);
    overlay().showWithView(page1_.get());
    finish(overlay().fadeIn());
    QImage shot = parent_->grab().toImage();
    // White under black at alpha 0.4 is 0.6 white, outside the page.
    EXPECT_NEAR(qRed(shot.pixel(5, 5)), 153, 2);
}

}  // namespace
}  // namespace telvo::app
