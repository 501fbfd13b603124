#include "app/window/INAppStoreWindow.h"

#include <QAbstractButton>
#include <QEvent>
#include <QWindowStateChangeEvent>
#include <cmath>

#include "app/ApplicationState.h"
#include "app/Coordinates.h"
#include "app/window/INTitlebarContainer.h"
#include "app/window/INTitlebarView.h"
#include "app/window/StandardWindowButton.h"

namespace telvo::app {

INAppStoreWindow::INAppStoreWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    content_ = new QWidget(this);
    content_->setObjectName(QStringLiteral("contentView"));
    container_ = new INTitlebarContainer(this);
    for (int i = 0; i < 3; ++i) buttons_[size_t(i)] = new StandardWindowButton(StandardWindowButton::Kind(i), this);
    auto update = [this](const notify::Notification&) { updateTitlebarView(); };
    auto& centre = notify::NotificationCenter::defaultCenter();
    observers_.push_back(centre.addObserver(ApplicationState::kDidBecomeActive, nullptr, nullptr, update));
    observers_.push_back(centre.addObserver(ApplicationState::kDidResignActive, nullptr, nullptr, update));
    setTitleBarView(new INTitlebarView);
    layoutTrafficLightsAndContent();
}

INAppStoreWindow::~INAppStoreWindow() {
    // A sheet still hanging belongs to its owner, not to the window.
    if (sheet_) {
        sheet_->hide();
        sheet_->setParent(nullptr);
    }
    for (auto token : observers_) notify::NotificationCenter::defaultCenter().removeObserver(token);
}

void INAppStoreWindow::setTitleBarHeight(double height) {
    if (height == titleBarHeight_) return;
    titleBarHeight_ = height;
    cachedTitleBarHeight_ = height;
    layoutTrafficLightsAndContent();
    if (titleBarView_) titleBarView_->update();
}

void INAppStoreWindow::setTrafficLightButtonsLeftMargin(double margin) {
    if (margin == leftMargin_) return;
    leftMargin_ = margin;
    layoutTrafficLightsAndContent();
    if (titleBarView_) titleBarView_->update();
}

void INAppStoreWindow::setFullScreenButtonRightMargin(double margin) {
    if (margin == fullScreenRightMargin_ && fullScreenRightMarginSet_) return;
    fullScreenRightMarginSet_ = true;
    fullScreenRightMargin_ = margin;
    layoutTrafficLightsAndContent();
}

void INAppStoreWindow::setCenterFullScreenButton(bool centre) {
    if (centre == centerFullScreenButton_) return;
    centerFullScreenButton_ = centre;
    layoutTrafficLightsAndContent();
}

void INAppStoreWindow::setCenterTrafficLightButtons(bool centre) {
    if (centre == centerTrafficLights_) return;
    centerTrafficLights_ = centre;
    layoutTrafficLightsAndContent();
}

void INAppStoreWindow::setShowsBaselineSeparator(bool shows) {
    if (shows == showsSeparator_) return;
    showsSeparator_ = shows;
    if (titleBarView_) titleBarView_->update();
}

void INAppStoreWindow::setUseLightBaselineSeparator(bool light) {
    if (light == lightSeparator_) return;
    lightSeparator_ = light;
    if (titleBarView_) titleBarView_->update();
}

void INAppStoreWindow::setTitleBarView(QWidget* view) {
    if (!view || view == titleBarView_) return;
    if (titleBarView_) {
        titleBarView_->hide();
        titleBarView_->deleteLater();
    }
    titleBarView_ = view;
    view->setParent(container_);
    view->setGeometry(container_->rect());
    view->show();
}

void INAppStoreWindow::setTitleBarDrawingBlock(DrawingBlock block) {
    drawingBlock_ = std::move(block);
    if (titleBarView_) titleBarView_->update();
}

QRectF INAppStoreWindow::positionSheet(const QRectF& proposed) const {
    // The sheet hangs from a line at the window height less the title bar, counted from the
    // bottom: a zero-high edge, so its Qt y is the title-bar height.
    QRectF placed = proposed;
    placed.moveTop(qtY(height() - titleBarHeight_, 0, height()));
    return placed;
}

bool INAppStoreWindow::beginSheet(QWidget* sheet, SheetDidEnd didEnd) {
    if (!sheet || sheet_) return false;
    sheet_ = sheet;
    sheetDidEnd_ = std::move(didEnd);
    content_->setEnabled(false);
    container_->setEnabled(false);
    const double x = std::round((width() - sheet->width()) * 0.5);
    QRectF placed = positionSheet(QRectF(x, 0, sheet->width(), sheet->height()));
    sheet->setParent(this);
    sheet->setGeometry(placed.toRect());
    sheet->setEnabled(true);
    sheet->show();
    sheet->raise();
    sheet->setFocus();
    if (QWidget* first = sheet->nextInFocusChain(); first && sheet->isAncestorOf(first)) first->setFocus();
    return true;
}

void INAppStoreWindow::endSheet(QWidget* sheet, int returnCode) {
    if (!sheet || sheet != sheet_) return;
    SheetDidEnd didEnd = std::move(sheetDidEnd_);
    sheetDidEnd_ = nullptr;
    sheet_ = nullptr;
    sheet->hide();
    sheet->setParent(nullptr);
    content_->setEnabled(true);
    container_->setEnabled(true);
    updateTitlebarView();
    if (didEnd) didEnd(sheet, returnCode);
}

INAppStoreWindow* INAppStoreWindow::sheetParent(QWidget* sheet) {
    auto* window = sheet ? qobject_cast<INAppStoreWindow*>(sheet->parentWidget()) : nullptr;
    return window && window->sheet_ == sheet ? window : nullptr;
}

bool INAppStoreWindow::isMainWindow() const { return mainOverride_ ? *mainOverride_ : isActiveWindow(); }

bool INAppStoreWindow::drawsAsMainWindow() const { return isMainWindow() && ApplicationState::shared().isActive(); }

void INAppStoreWindow::setMainForTesting(std::optional<bool> main) {
    mainOverride_ = main;
    updateTitlebarView();
}

void INAppStoreWindow::layoutTrafficLightsAndContent() {
    ++layoutCount_;
    // The frame's content lies under the frame's own (minimum) title bar; the container and
    // the buttons stay above it.
    const double frameHeight = height();
    content_->setGeometry(0, int(kMinimumTitleBarHeight), width(), std::max(0, int(frameHeight - kMinimumTitleBarHeight)));
    // Container: along the top of the frame, titleBarHeight high (bottom-up y = H - height).
    const double containerY = qtY(frameHeight - titleBarHeight_, titleBarHeight_, frameHeight);
    container_->setGeometry(0, int(containerY), width(), int(titleBarHeight_));
    container_->raise();
    if (titleBarView_) titleBarView_->setGeometry(container_->rect());
    // Buttons: y from the close button's height, bottom-up within the container.
    const double h = buttons_[0]->height();
    const double upY = centerTrafficLights_ ? std::round(titleBarHeight_ / 2 - h / 2) : titleBarHeight_ - h - 3;
    const double y = containerY + qtY(upY, h, titleBarHeight_);
    for (int i = 0; i < 3; ++i) {
        auto* b = buttons_[size_t(i)];
        b->move(int(std::round(leftMargin_ + i * kButtonSeparation)), int(std::round(y)));
        b->raise();
    }
}

void INAppStoreWindow::updateTitlebarView() {
    if (!titleBarView_) return;
    titleBarView_->update();
    const bool main = drawsAsMainWindow();
    for (QObject* child : titleBarView_->children())
        if (auto* control = qobject_cast<QAbstractButton*>(child)) control->setEnabled(main);
}

void INAppStoreWindow::windowWillEnterFullScreen() {
    if (!hideInFullScreen_) return;
    titleBarHeight_ = 0;
    layoutTrafficLightsAndContent();
    if (titleBarView_) {
        titleBarView_->update();
        titleBarView_->hide();
    }
}

void INAppStoreWindow::windowWillExitFullScreen() {
    if (!hideInFullScreen_) return;
    titleBarHeight_ = cachedTitleBarHeight_;
    layoutTrafficLightsAndContent();
    if (titleBarView_) {
        titleBarView_->update();
        titleBarView_->show();
    }
}

void INAppStoreWindow::miniaturize() { setWindowState(windowState() | Qt::WindowMinimized); }

void INAppStoreWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutTrafficLightsAndContent();
}

void INAppStoreWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        updateTitlebarView();
    } else if (event->type() == QEvent::WindowStateChange) {
        const bool full = windowState() & Qt::WindowFullScreen;
        if (full != inFullScreen_) {
            inFullScreen_ = full;
            full ? windowWillEnterFullScreen() : windowWillExitFullScreen();
        }
    }
}

}  // namespace telvo::app
