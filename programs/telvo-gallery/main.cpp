// telvo-gallery [--overlay] [--inactive] [--graphite] [--screenshot FILE]
// Shows the control application's main-window look: the frameless window with its 30-point
// drawn title bar and own close and minimise buttons, and every cell and view kind, laid out
// by the interface file Gallery.ui. --overlay shows the installer's page over the dimmed
// window; --screenshot grabs the screen into FILE once the window is up, then quits.
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>

#include "app/ApplicationState.h"
#include "app/Coordinates.h"
#include "app/LeakSuppressions.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/CheckboxCell.h"
#include "app/cells/ClientsTableHeaderCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/ImageViews.h"
#include "app/cells/InstallButtonCell.h"
#include "app/cells/LabelCell.h"
#include "app/cells/PopUpButtonCell.h"
#include "app/cells/TVSImageButton.h"
#include "app/drawing/Canvas.h"
#include "app/overlay/OverlayController.h"
#include "app/window/INAppStoreWindow.h"
#include "app/window/TVSWindowControlsView.h"

using namespace telvo::app;
#include "ui_Gallery.h"

// Qt's and fontconfig's own process-lifetime allocations are not ours to report.
extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

namespace {

// The title bar's own buttons, as the application sets them up at launch.
TVSWindowControlsView* makeControls(bool graphite) {
    auto* controls = new TVSWindowControlsView;
    const QString suffix = graphite ? QStringLiteral("-graphite") : QString();
    const char* bases[] = {"traffic-close", "traffic-minimise"};
    for (int i = 0; i < 2; ++i) {
        auto* b = new TVSImageButton(controls);
        b->setGeometry(i * 20, 0, 14, 14);
        b->setImage(bases[i]);
        b->setAlternateImage(QString::fromLatin1(bases[i]) + "-down" + suffix);
        b->setHoverImage(QString::fromLatin1(bases[i]) + "-hover" + suffix);
        b->setPartOfHoverGroup(true);
        QObject::connect(b, &QAbstractButton::clicked, controls, [controls, i] {
            if (i == 0)
                controls->window()->close();
            else
                controls->window()->showMinimized();
        });
    }
    return controls;
}

void fillGallery(Ui::Gallery& ui) {
    auto* table = ui.clientsTable;
    table->setHorizontalHeader(new TVSClientsTableHeaderView(table));
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({"Address", "Hostname", "Sent", "Time"});
    const char* rows[][4] = {{"192.0.2.10", "studio-mac", "1.00MB", "0d, 1h, 12m, 5s"},
                             {"192.0.2.24", "", "812KB", "0d, 0h, 3m, 41s"}};
    table->setRowCount(2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c) table->setItem(r, c, new QTableWidgetItem(QString::fromLatin1(rows[r][c])));
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setColumnWidth(0, 100);
    table->setColumnWidth(1, 110);
    table->setColumnWidth(2, 70);

    ui.rightAligned->setRightAligned(true);
    ui.pressedButton->setDown(true);
    ui.languagePopUp->addItems({"English", "Deutsch", "Français"});
    ui.statusGreen->setImageName("status-green");
    ui.statusYellow->setImageName("status-yellow");
    ui.statusRed->setImageName("status-red");
    ui.statusDisabled->setImageName("status-disabled");
    ui.connected->setImageName("connected");
    ui.notConnected->setImageName("notconnected");
    ui.passwordBackground->setMode(1);
    const char* digits[] = {"passcode-4", "passcode-0", "passcode-9", "passcode-1", "passcode-locked"};
    for (int i = 0; i < 5; ++i) {
        auto* digit = new ImageView(ui.passcodeBackground);
        digit->setGeometry(20 + i * 54, 34, 40, 52);
        digit->setImageName(digits[i]);
    }
    auto* lock = new TVSButton(ui.passcodeBar);
    lock->setText("Lock");
    lock->setGeometry(320, 10, 100, 20);
    auto* install = new InstallButton(ui.installBackground);
    install->setText("Install");
    install->setGeometry(170, 230, 160, 40);
}

QWidget* makeOverlayPage() {
    auto* page = new InstallBackground;
    page->resize(500, 300);
    auto* button = new InstallButton(page);
    button->setText("Install Telvo Server");
    button->setGeometry(150, 230, 200, 40);
    return page;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    QString screenshot;
    if (int i = args.indexOf("--screenshot"); i >= 0 && i + 1 < args.size()) screenshot = args[i + 1];
    auto& state = ApplicationState::shared();
    if (args.contains("--inactive")) state.setActiveForTesting(false);
    else if (!screenshot.isEmpty()) state.setActiveForTesting(true);  // no window manager to activate us
    if (args.contains("--graphite")) state.setControlTintForTesting(ApplicationState::kGraphiteTint);
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, [] { ApplicationState::shared().applicationStateChanged(); });

    INAppStoreWindow window;
    window.setWindowTitle("Telvo Server");
    window.resize(990, 600);
    // The main window's set-up: 30-point bar without separator, the standard buttons out of
    // sight, our controls at the design's (10, 9), the bar drawn from "window-titlebar".
    window.setShowsBaselineSeparator(false);
    window.setTrafficLightButtonsLeftMargin(-100);
    window.setTitleBarHeight(30);
    auto* controls = makeControls(state.isGraphite());
    controls->setParent(window.titleBarView());
    controls->move(10, int(qtY(9, controls->height(), window.titleBarHeight())));
    window.setTitleBarDrawingBlock([](QPainter& p, bool, const QPainterPath& clip, const QRectF& rect) {
        p.setClipPath(clip);
        Canvas canvas(p);
        canvas.imageIn("window-titlebar", rect);
    });
    window.contentView()->setAutoFillBackground(true);
    QPalette palette = window.contentView()->palette();
    palette.setColor(QPalette::Window, QColor(0xec, 0xee, 0xf1));
    window.contentView()->setPalette(palette);

    auto* form = new QWidget(window.contentView());
    Ui::Gallery ui;
    ui.setupUi(form);
    form->move(0, int(window.titleBarHeight() - INAppStoreWindow::kMinimumTitleBarHeight));
    fillGallery(ui);
    window.setMainForTesting(true);
    window.show();

    std::unique_ptr<QWidget> page;
    if (args.contains("--overlay")) {
        page.reset(makeOverlayPage());
        OverlayController::sharedOverlayController().setParentWindow(&window);
        OverlayController::sharedOverlayController().showWithView(page.get());
    }
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(1000, &app, [&] {
            QPixmap shot = window.screen()->grabWindow(0);
            if (!shot.save(screenshot)) std::fprintf(stderr, "telvo-gallery: cannot write %s\n", qPrintable(screenshot));
            app.quit();
        });
    }
    int rc = app.exec();
    OverlayController::resetForTesting();
    return rc;
}
