#pragma once
// A frameless window with a title bar of our own: a container strip of settable height along
// the top holding a replaceable title-bar view (drawn by a block or by the default look), and
// stand-ins of the standard close, minimise and zoom buttons placed inside the taller bar by
// a left margin, the standard separation and optional vertical centring. Sheets hang from
// under the title bar. Positions follow the design's bottom-up rules, converted once by
// Coordinates.h. Main thread only.
#include <QPainterPath>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "platform/notify/NotificationCenter.h"

namespace telvo::app {

class INTitlebarContainer;
class StandardWindowButton;

class INAppStoreWindow : public QWidget {
    Q_OBJECT
public:
    using DrawingBlock = std::function<void(QPainter&, bool drawsAsMainWindow, const QPainterPath& clip,
                                            const QRectF& drawingRect)>;
    enum class Button { Close = 0, Miniaturize = 1, Zoom = 2 };

    // The values a system window frame would report, fixed here: the frame's title bar is 22
    // points high, the close button sits 7 points from the left and its siblings 20 apart.
    static constexpr double kMinimumTitleBarHeight = 22;
    static constexpr double kDefaultLeftMargin = 7;
    static constexpr double kButtonSeparation = 20;

    explicit INAppStoreWindow(QWidget* parent = nullptr);
    ~INAppStoreWindow() override;

    double titleBarHeight() const { return titleBarHeight_; }
    double cachedTitleBarHeight() const { return cachedTitleBarHeight_; }
    void setTitleBarHeight(double height);
    double trafficLightButtonsLeftMargin() const { return leftMargin_; }
    void setTrafficLightButtonsLeftMargin(double margin);
    // Kept for callers; this window has no full-screen button to place.
    double fullScreenButtonRightMargin() const { return fullScreenRightMargin_; }
    void setFullScreenButtonRightMargin(double margin);
    bool centerFullScreenButton() const { return centerFullScreenButton_; }
    void setCenterFullScreenButton(bool centre);
    bool centerTrafficLightButtons() const { return centerTrafficLights_; }
    void setCenterTrafficLightButtons(bool centre);
    bool hideTitleBarInFullScreen() const { return hideInFullScreen_; }
    void setHideTitleBarInFullScreen(bool hide) { hideInFullScreen_ = hide; }
    bool showsBaselineSeparator() const { return showsSeparator_; }
    void setShowsBaselineSeparator(bool shows);
    bool useLightBaselineSeparator() const { return lightSeparator_; }
    void setUseLightBaselineSeparator(bool light);

    QWidget* titleBarView() const { return titleBarView_; }
    // Ignored for null or the current view; the old view is deleted, the new one fills the bar.
    void setTitleBarView(QWidget* view);
    INTitlebarContainer* titleBarContainer() const { return container_; }
    const DrawingBlock& titleBarDrawingBlock() const { return drawingBlock_; }
    void setTitleBarDrawingBlock(DrawingBlock block);

    StandardWindowButton* standardWindowButton(Button which) const { return buttons_[size_t(which)]; }
    // The window's content: everything below the frame's own title bar.
    QWidget* contentView() const { return content_; }

    // Where a sheet attaches: the proposed rectangle moved to start under the title bar.
    QRectF positionSheet(const QRectF& proposed) const;

    // Sheets, drawn inside the window (no window manager places them): beginSheet makes
    // `sheet` a child of the window at positionSheet (under the title bar, centred across)
    // and disables the rest of the window until endSheet(sheet, code) takes it out again
    // (hidden, no longer a child) and calls `didEnd` with the sheet and the code. One sheet at
    // a time: false (and nothing done) while another one hangs.
    using SheetDidEnd = std::function<void(QWidget* sheet, int returnCode)>;
    bool beginSheet(QWidget* sheet, SheetDidEnd didEnd);
    void endSheet(QWidget* sheet, int returnCode = 0);
    QWidget* attachedSheet() const { return sheet_; }
    // The window `sheet` hangs on, or null.
    static INAppStoreWindow* sheetParent(QWidget* sheet);

    // Main when Qt says the window is active (or as a test fixed it); drawn as main when it
    // is main and the application is active.
    bool isMainWindow() const;
    bool drawsAsMainWindow() const;
    void setMainForTesting(std::optional<bool> main);

    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();
    void miniaturize();

    // How many layouts have run (for tests).
    int layoutCount() const { return layoutCount_; }
    void layoutTrafficLightsAndContent();
    // Redraws the title bar and enables its controls exactly when drawn as main window.
    void updateTitlebarView();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    double titleBarHeight_ = kMinimumTitleBarHeight;
    double cachedTitleBarHeight_ = 0;
    double leftMargin_ = kDefaultLeftMargin;
    double fullScreenRightMargin_ = 0;
    bool fullScreenRightMarginSet_ = false;
    bool centerFullScreenButton_ = false;
    bool centerTrafficLights_ = true;
    bool hideInFullScreen_ = false;
    bool showsSeparator_ = true;
    bool lightSeparator_ = false;
    bool inFullScreen_ = false;
    std::optional<bool> mainOverride_;
    int layoutCount_ = 0;

    QWidget* content_ = nullptr;
    INTitlebarContainer* container_ = nullptr;
    QPointer<QWidget> titleBarView_;
    std::array<StandardWindowButton*, 3> buttons_{};
    DrawingBlock drawingBlock_;
    std::vector<notify::ObserverToken> observers_;
    QPointer<QWidget> sheet_;
    SheetDidEnd sheetDidEnd_;
};

}  // namespace telvo::app
