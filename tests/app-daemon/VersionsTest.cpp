// The about window's version lines, the launch's log line and preference, the graphite
// title-bar images, and quitting with the main window.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "AppDaemonFixture.h"
#include "app/ApplicationState.h"
#include "app/cells/LabelCell.h"
#include "app/cells/TVSImageButton.h"
#include "app/overlay/OverlayController.h"
#include "app/window/TVSWindowControlsView.h"
#include "platform/notify/DistributedNotificationListener.h"

#include <QTableView>
#include "platform/defaults/UserDefaults.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {
namespace {

class AppVersionsTest : public AppDaemonTest {
protected:
    std::string text(app::TVSLabel* label) { return label->text().toStdString(); }
};

TEST_F(AppVersionsTest, VersionLinesLogLineAndTheAgentsAnswer) {
    ASSERT_TRUE(startDaemon());
    startApp();
    EXPECT_EQ(text(delegate().aboutVersion()), "Version 3.03 (270)");
    EXPECT_EQ(text(delegate().aboutVersionAgent()), "Agent Version N/A");
    ASSERT_TRUE(waitFor([&] { return text(delegate().aboutVersionDaemon()) == "Daemon Version 3.03 (270)"; }))
        << text(delegate().aboutVersionDaemon());
    std::vector<std::string> log = systemLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "Telvo Server version 3.03 (270)");

    // The first launch leaves its mark in the application's own defaults file.
    std::ifstream in(host("/home/Library/Preferences/com.kestro.TelvoServer.plist"));
    Value defaults = plist::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(defaults["_upgrade_2.1"], Value(true)) << defaults.description();

    // The agent answers the version request with a notification of its own.
    notify::DistributedNotificationCenter::defaultCenter().postNotification(
        "TelvoServerAgentVersionResponse", Value(ValueDictionary{{"version", Value(3.04)}, {"build", Value("271")}}));
    EXPECT_TRUE(waitFor([&] { return text(delegate().aboutVersionAgent()) == "Agent Version 3.04 (271)"; }))
        << text(delegate().aboutVersionAgent());

    delegate().about();
    ASSERT_TRUE(waitFor([&] { return delegate().aboutWindow()->isVisible(); }));
    screenshot("about");
    // A second about: while it is shown nothing moves.
    QPoint at = delegate().aboutWindow()->pos();
    delegate().about();
    EXPECT_EQ(delegate().aboutWindow()->pos(), at);
}

TEST_F(AppVersionsTest, AgentInfoPlistAndTheGraphiteTint) {
    std::string plist = host(app::TVSAppDelegate::kAgentInfoPlist);
    std::filesystem::create_directories(std::filesystem::path(plist).parent_path());
    ASSERT_TRUE(plist::writeFile(Value(ValueDictionary{{"CFBundleShortVersionString", Value("3.02")},
                                                       {"CFBundleVersion", Value("265")}}),
                                 app::TVSAppDelegate::kAgentInfoPlist));
    app::ApplicationState::shared().setControlTintForTesting(app::ApplicationState::kGraphiteTint);
    app::ApplicationState::shared().setActiveForTesting(true);
    startApp();
    EXPECT_EQ(text(delegate().aboutVersionAgent()), "Agent Version 3.02 (265)");
    auto* close = widget<app::TVSImageButton>("closeBtn");
    auto* minimise = widget<app::TVSImageButton>("minimiseButton");
    ASSERT_TRUE(close && minimise);
    EXPECT_EQ(close->alternateImage(), "traffic-close-down-graphite");
    EXPECT_EQ(close->hoverImage(), "traffic-close-hover-graphite");
    EXPECT_EQ(minimise->alternateImage(), "traffic-minimise-down-graphite");
    EXPECT_EQ(minimise->hoverImage(), "traffic-minimise-hover-graphite");
    screenshot("main-graphite");
}

TEST_F(AppVersionsTest, MainWindowSetUpPlainTintAndClosingTheMainWindowQuits) {
    notify::DistributedNotificationListener agentSide;
    startApp();
    // The version request to the agent, spelt as the agent expects it.
    EXPECT_TRUE(agentSide.waitFor("TelvoServerAgentVersionReqest", 60));

    // The main window's set-up.
    app::INAppStoreWindow* window = delegate().window();
    EXPECT_EQ(window->titleBarHeight(), 30);
    EXPECT_EQ(window->trafficLightButtonsLeftMargin(), -100);
    EXPECT_FALSE(window->showsBaselineSeparator());
    EXPECT_TRUE(bool(window->titleBarDrawingBlock()));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(delegate().controls()->parentWidget(), window->titleBarView());
    // The design's (10, 9) from the bar's bottom.
    EXPECT_EQ(delegate().controls()->pos(), QPoint(10, 30 - 9 - delegate().controls()->height()));
    EXPECT_EQ(app::OverlayController::sharedOverlayController().parentWindow(), window);
    EXPECT_EQ(delegate().clientsTable()->selectionMode(), QAbstractItemView::NoSelection);

    auto* close = widget<app::TVSImageButton>("closeBtn");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->alternateImage(), "traffic-close-down");
    EXPECT_EQ(close->hoverImage(), "traffic-close-hover");
    EXPECT_TRUE(qApp->quitOnLastWindowClosed());
    ASSERT_TRUE(waitFor([&] { return delegate().window()->isVisible(); }));

    // In the event loop, as the program runs: the click on the title bar's close button
    // closes the last window and the loop ends.
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    bool gaveUp = false;
    QTimer::singleShot(0, close, [close] { QTest::mouseClick(close, Qt::LeftButton); });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, qApp, [&] {
        gaveUp = true;
        qApp->exit(1);
    });
    safety.start(20000);
    EXPECT_EQ(qApp->exec(), 0);
    EXPECT_FALSE(gaveUp);
    EXPECT_EQ(lastClosed.count(), 1);
    EXPECT_FALSE(delegate().window()->isVisible());

    // Brought back by its menu item.
    delegate().openMainWindow();
    EXPECT_TRUE(waitFor([&] { return delegate().window()->isVisible(); }, 10));
}

}  // namespace
}  // namespace telvo::testing
