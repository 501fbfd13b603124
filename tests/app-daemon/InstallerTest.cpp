// The installer front end and the delegate's share in it, in the harness: the validity table,
// the pages at launch and after the menu actions, a plug-in that cannot be loaded, the older
// route's refusals and the tool's failure, the completion page and the welcome window, the free
// copy name, the update checker's start and the maker's web pages.
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "AppDaemonFixture.h"
#include "app/cells/ImageViews.h"
#include "app/delegate/WebPages.h"
#include "app/installer/Installer.h"
#include "app/overlay/OverlayController.h"
#include "app/controls/LocalizedButton.h"
#include "app/controls/LocalizedTextField.h"
#include "app/update/ReleaseNotesView.h"
#include "app/update/UpdateChecker.h"
#include "foundation/KXRVersions.h"
#include "helper/ToolTable.h"
#include "platform/authorization/Authorization.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/values/PropertyList.h"
#include "update/HttpTransfer.h"
#include "update/HttpsTestServer.h"

namespace telvo::testing {
namespace {

const std::string kSupport = "/Library/Application Support/Telvo Server";
const std::string kDaemonJob = "/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist";

// Records the addresses the application hands to the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

class InstallerTest : public AppDaemonTest {
protected:
    InstallerTest() { freshInstall_ = true; }
    void TearDown() override {
        unsetenv("TELVO_APP_BUNDLE");
        authorization::setTrampolineForTesting("");
        AppDaemonTest::TearDown();
    }
    app::Installer& installer() { return app::Installer::sharedInstaller(); }
    int page() { return installer().tabs()->currentIndex(); }
    bool logged(const std::string& line) {
        for (const auto& l : systemLog())
            if (l == line) return true;
        return false;
    }
    bool loggedPart(const std::string& part) {
        for (const auto& l : systemLog())
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    // An application at the logical path whose plug-in says `pluginBuild` (none for 0).
    std::string bundleWithPlugin(const std::string& app, long pluginBuild) {
        std::filesystem::create_directories(host(app + "/Contents/Resources"));
        // The build's artwork, so that the pages and windows look as they do for the user.
        for (const auto& entry : std::filesystem::directory_iterator(std::string(kBundle) + "/Contents/Resources"))
            if (entry.path().extension() == ".png")
                std::filesystem::copy_file(entry.path(), host(app + "/Contents/Resources/" + entry.path().filename().string()),
                                           std::filesystem::copy_options::overwrite_existing);
        if (pluginBuild > 0) {
            std::filesystem::create_directories(host(app + "/Contents/Resources/SetupBundle.bundle/Contents"));
            EXPECT_TRUE(plist::writeFile(Value(ValueDictionary{{"CFBundleVersion", Value(std::to_string(pluginBuild))}}),
                                         app + "/Contents/Resources/SetupBundle.bundle/Contents/Info.plist"));
        }
        EXPECT_TRUE(plist::writeFile(Value(ValueDictionary{{"CFBundleShortVersionString", Value("3.03")}}),
                                     app + "/Contents/Info.plist"));
        setenv("TELVO_APP_BUNDLE", host(app).c_str(), 1);
        return app;
    }
    // The installed parts: the agent of that build (none for 0), the daemon's job file, its program.
    void installed(long agentBuild, bool daemonJob, bool daemonProgram = true, bool agentFolder = true) {
        std::filesystem::create_directories(host(kSupport));
        if (agentFolder) std::filesystem::create_directories(host(kSupport + "/TelvoServerAgent.app"));
        if (agentBuild > 0) {
            std::filesystem::create_directories(host(kSupport + "/TelvoServerAgent.app/Contents"));
            EXPECT_TRUE(plist::writeFile(Value(ValueDictionary{{"CFBundleVersion", Value(std::to_string(agentBuild))}}),
                                         kSupport + "/TelvoServerAgent.app/Contents/Info.plist"));
        }
        if (daemonJob) {
            std::filesystem::create_directories(host("/Library/LaunchDaemons"));
            std::ofstream(host(kDaemonJob)).flush();
        }
        if (daemonProgram) std::ofstream(host(kSupport + "/TelvoServerDaemon")).flush();
    }
    bool started_ = false;
    bool delegateStarted_ = false;
    static std::string readFile(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static unsigned modeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
    }
    QAction* action(const char* name) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (QAction* a = top->findChild<QAction*>(name)) return a;
        ADD_FAILURE() << "no action " << name;
        static QAction none;
        return &none;
    }
    QAbstractButton* button(const char* name) { return installer().view()->findChild<QAbstractButton*>(name); }
    bool welcomeShownKey() {
        return !defaults::UserDefaults::standard().objectForKey(app::TVSAppDelegate::kWelcomeShownKey).isNull();
    }
    bool overlayShowsInstaller() {
        auto& overlay = app::OverlayController::sharedOverlayController();
        return overlay.isShowing() && installer().view()->parentWidget() == overlay.window() && installer().view()->isVisible();
    }
};

TEST_F(InstallerTest, ValidityTable) {
    struct Case {
        const char* what;
        long plugin, agent;
        bool job, program, agentFolder, valid;
    };
    const Case cases[] = {
        {"plug-in 271 over agent 270", 271, 270, true, true, true, false},
        {"plug-in 270 under agent 275, all three files", 270, 275, true, true, true, true},
        {"same build, all three files", 270, 270, true, true, true, true},
        {"no agent", 270, 0, true, true, false, false},
        {"an agent folder without its build counts as 0", 270, 0, true, true, true, false},
        {"no daemon job file", 270, 270, false, true, true, false},
        {"no daemon program", 270, 270, true, false, true, false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(host("/Library"));
        std::filesystem::remove_all(host("/Apps"));
        bundleWithPlugin("/Apps/Telvo Server.app", c.plugin);
        installed(c.agent, c.job, c.program, c.agentFolder);
        EXPECT_EQ(installer().isInstalledAndValid(), c.valid) << c.what;
    }
}

TEST_F(InstallerTest, LaunchOffersTheInstallOverTheDimmedWindowAndAnUnloadablePluginGivesTheErrorPage) {
    // The assembled bundle, its plug-in not signed by an anchor of this root.
    const std::string app = "/Users/tester/Downloads/Telvo Server.app";
    std::filesystem::create_directories(host("/Users/tester/Downloads"));
    std::filesystem::copy(std::string(kBundle), host(app), std::filesystem::copy_options::recursive);
    setenv("TELVO_APP_BUNDLE", host(app).c_str(), 1);
    startApp();
    ASSERT_TRUE(waitFor([&] { return overlayShowsInstaller(); }, 20));
    EXPECT_EQ(page(), app::Installer::InstallPage);
    auto* background = installer().tabs()->currentWidget();
    ASSERT_TRUE(waitFor([&] {
        auto* b = qobject_cast<app::InstallBackground*>(background);
        return b && b->lastDraw().imageNames().size() > 0;
    }, 10));
    EXPECT_EQ(qobject_cast<app::InstallBackground*>(background)->lastDraw().imageNames().front(), QStringLiteral("welcome-overlay"));
    screenshot("installer-install-page");

    QTest::mouseClick(button("installButton"), Qt::LeftButton);
    EXPECT_EQ(page(), app::Installer::InstallingPage);
    EXPECT_TRUE(installer().isAnimating());
    EXPECT_EQ(installer().progress()->maximum(), 0);  // busy
    ASSERT_TRUE(waitFor([&] { return page() == app::Installer::ErrorPage; }, 20));
    EXPECT_FALSE(installer().isAnimating());
    EXPECT_TRUE(logged("Starting installation"));
    EXPECT_TRUE(logged("Installer bundle - " + app + "/Contents/Resources/SetupBundle.bundle"));
    EXPECT_TRUE(logged("Initiating installer class"));
    EXPECT_TRUE(loggedPart("The setup plug-in was not loaded"));
    EXPECT_FALSE(logged("Installing from path - " + app));  // nothing loaded, nothing called
    EXPECT_TRUE(overlayShowsInstaller());
    EXPECT_TRUE(delegate().window()->isVisible());

    // Try again from the error page: the same way.
    QTest::mouseClick(button("retryButton"), Qt::LeftButton);
    EXPECT_EQ(page(), app::Installer::InstallingPage);
    EXPECT_TRUE(waitFor([&] { return page() == app::Installer::ErrorPage; }, 20));
}

TEST_F(InstallerTest, MissingPluginUninstallGivesPageFourAndCancelRemovesTheOverlay) {
    bundleWithPlugin("/Apps/Telvo Server.app", 0);
    installed(270, true);
    markInstalled();
    startApp();
    EXPECT_FALSE(app::OverlayController::sharedOverlayController().isShowing());
    action("actionUninstall")->trigger();
    ASSERT_TRUE(overlayShowsInstaller());
    EXPECT_EQ(page(), app::Installer::UninstallPage);
    QTest::mouseClick(button("uninstallButton"), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return page() == app::Installer::UninstallFailedPage; }, 10));
    QTest::mouseClick(button("uninstallFailedCancelButton"), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return !app::OverlayController::sharedOverlayController().isShowing(); }, 10));
    EXPECT_TRUE(delegate().window()->isVisible());
}

TEST_F(InstallerTest, ReinstallAndUninstallShowTheirPagesInstalledOrNot) {
    for (bool isInstalled : {false, true}) {
        SCOPED_TRACE(isInstalled ? "installed" : "not installed");
        std::filesystem::remove_all(host("/Library"));
        bundleWithPlugin("/Apps/Telvo Server.app", 0);
        if (isInstalled) installed(0, true);
        EXPECT_EQ(installer().isInstalledAndValid(), isInstalled);
        if (!started_) {
            startApp();
            started_ = true;
            // The launch's own offer (not installed at launch) is taken down first.
            if (app::OverlayController::sharedOverlayController().isShowing()) {
                app::OverlayController::sharedOverlayController().remove();
                ASSERT_TRUE(waitFor([&] { return !app::OverlayController::sharedOverlayController().isShowing(); }, 10));
            }
        }
        const int attached = app::OverlayController::sharedOverlayController().attachCount();
        action("actionReinstall")->trigger();
        EXPECT_TRUE(overlayShowsInstaller());
        EXPECT_EQ(page(), app::Installer::InstallPage);
        action("actionUninstall")->trigger();
        EXPECT_TRUE(overlayShowsInstaller());
        EXPECT_EQ(page(), app::Installer::UninstallPage);
        // The uninstall page swapped in: no second attachment.
        EXPECT_EQ(app::OverlayController::sharedOverlayController().attachCount(), attached + 1);
        QTest::mouseClick(button("cancelUninstallButton"), Qt::LeftButton);
        EXPECT_TRUE(waitFor([&] { return !app::OverlayController::sharedOverlayController().isShowing(); }, 10));
    }
}

TEST_F(InstallerTest, DoneRemovesTheOverlayAndShowsTheWelcomeWindowOnce) {
    bundleWithPlugin("/Apps/Telvo Server.app", 0);
    startApp();
    ASSERT_TRUE(waitFor([&] { return overlayShowsInstaller(); }, 20));
    EXPECT_FALSE(delegate().welcomeWindow()->isVisible());
    EXPECT_FALSE(welcomeShownKey());
    installer().tabs()->setCurrentIndex(app::Installer::DonePage);  // as after reply 1
    QTest::mouseClick(button("doneButton"), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return !app::OverlayController::sharedOverlayController().isShowing(); }, 10));
    EXPECT_TRUE(delegate().welcomeWindow()->isVisible());
    serveFor(0.2);
    screenshot("welcome");
    EXPECT_TRUE(welcomeShownKey());
    delegate().welcomeWindow()->close();
    // Another completion (a reinstall) does not show it again.
    delegate().installSuceeded();
    serveFor(0.3);
    EXPECT_FALSE(delegate().welcomeWindow()->isVisible());
}

TEST_F(InstallerTest, InstalledLaunchShowsTheWelcomeWindowOnce) {
    for (bool shownBefore : {false, true}) {
        SCOPED_TRACE(shownBefore ? "the next launch" : "the first launch");
        bundleWithPlugin("/Apps/Telvo Server.app", 270);
        installed(270, true);
        if (!shownBefore) {
            startApp();
            EXPECT_TRUE(waitFor([&] { return delegate().welcomeWindow()->isVisible(); }, 10));
            EXPECT_TRUE(welcomeShownKey());
            delegate().welcomeWindow()->close();
        } else {
            // What the next launch's step finds.
            delegate().startInstaller();
            serveFor(0.3);
            EXPECT_FALSE(delegate().welcomeWindow()->isVisible());
        }
        EXPECT_FALSE(app::OverlayController::sharedOverlayController().isShowing());
    }
}

TEST_F(InstallerTest, OlderRouteRefusedRightsGivePagesTwoAndFourAndAFailedToolPageTwo) {
    setenv("TELVO_OS_VERSION", "10.7", 1);
    KXRVersions::resetForTesting();
    // An application whose tool fails.
    const std::string app = bundleWithPlugin("/Apps/Telvo Server.app", 0);
    const std::string tool = host(app + "/Contents/Resources/LegacySetupTool");
    std::ofstream(tool) << "#!/bin/sh\nexit 1\n";
    ::chmod(tool.c_str(), 0755);
    authorization::setTrampolineForTesting(std::string(TELVO_BINARY_DIR) + "/programs/telvo-privileged-exec/telvo-privileged-exec");
    std::filesystem::create_directories(host("/etc/telvo/authorization"));
    auto policy = [&](const char* answer) {
        std::ofstream(host("/etc/telvo/authorization/scripted.policy"), std::ios::trunc)
            << "system.privilege.admin " << answer << "\n";
        ::chmod(host("/etc/telvo/authorization/scripted.policy").c_str(), 0644);
    };
    policy("deny");
    startApp();
    ASSERT_TRUE(waitFor([&] { return overlayShowsInstaller(); }, 20));
    QTest::mouseClick(button("installButton"), Qt::LeftButton);
    EXPECT_EQ(page(), app::Installer::ErrorPage);
    EXPECT_FALSE(installer().isAnimating());
    EXPECT_TRUE(loggedPart("The administrator right was not granted"));
    action("actionUninstall")->trigger();
    QTest::mouseClick(button("uninstallButton"), Qt::LeftButton);
    EXPECT_EQ(page(), app::Installer::UninstallFailedPage);

    policy("allow");
    action("actionReinstall")->trigger();
    QTest::mouseClick(button("installButton"), Qt::LeftButton);
    EXPECT_EQ(page(), app::Installer::ErrorPage);
    EXPECT_TRUE(loggedPart("LegacySetupTool did not finish: ran, exit status 1"));
    action("actionUninstall")->trigger();
    QTest::mouseClick(button("uninstallButton"), Qt::LeftButton);
    EXPECT_EQ(page(), app::Installer::UninstallFailedPage);
    EXPECT_TRUE(delegate().window()->isVisible());
}

TEST_F(InstallerTest, OlderRouteUnloadsRunsTheToolLoadsRelaunchesAndTrashesTheOldCopyLater) {
    setenv("TELVO_OS_VERSION", "10.7", 1);
    KXRVersions::resetForTesting();
    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    setenv("HOME", "/Users/tester", 1);
    struct RestoreHome {
        std::string home;
        ~RestoreHome() { setenv("HOME", home.c_str(), 1); helper::setToolForTesting("/bin/launchctl", ""); }
    } restore{home};
    std::filesystem::create_directories(host("/Users/tester"));
    // Every step writes one line: launchctl and the tool here, the relaunched copy when it starts.
    const std::string steps = host("/steps");
    auto script = [&](const std::string& path, const std::string& word) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << "#!/bin/sh\necho " << word << " \"$@\" >> '" << steps << "'\n";
        ::chmod(path.c_str(), 0755);
    };
    script(host("/bin/fake-launchctl"), "launchctl");
    helper::setToolForTesting("/bin/launchctl", host("/bin/fake-launchctl"));
    authorization::setTrampolineForTesting(std::string(TELVO_BINARY_DIR) + "/programs/telvo-privileged-exec/telvo-privileged-exec");
    std::filesystem::create_directories(host("/etc/telvo/authorization"));
    std::ofstream(host("/etc/telvo/authorization/scripted.policy")) << "system.privilege.admin allow\n";
    ::chmod(host("/etc/telvo/authorization/scripted.policy").c_str(), 0644);
    // The copy the tool would have put in "/Applications".
    const std::string installed = "/Applications/Telvo Server.app";
    script(host(installed + "/Contents/MacOS/Telvo Server"), "started");
    ASSERT_TRUE(plist::writeFile(Value(ValueDictionary{{"CFBundleExecutable", Value("Telvo Server")}}), installed + "/Contents/Info.plist"));

    int quits = 0;
    const std::string trash = "/Users/tester/.Trash";
    for (const char* expected : {"/Telvo Server (3.03).app", "/Telvo Server (3.03) 2.app"}) {
        SCOPED_TRACE(expected);
        std::filesystem::remove(steps);
        const std::string app = bundleWithPlugin("/Apps/Telvo Server.app", 0);
        script(host(app + "/Contents/Resources/LegacySetupTool"), "tool");
        if (!delegateStarted_) {
            startApp();
            delegateStarted_ = true;
        }
        installer().setTerminateForTesting([&] { ++quits; });
        const int before = quits;
        action("actionReinstall")->trigger();
        QTest::mouseClick(button("installButton"), Qt::LeftButton);
        EXPECT_EQ(quits, before + 1);
        EXPECT_FALSE(installer().isAnimating());
        const std::string agentJob = "/Library/LaunchAgents/com.kestro.telvoserveragent.plist";
        EXPECT_TRUE(waitFor([&] { return readFile(steps).find("started") != std::string::npos; }, 30)) << readFile(steps);
        EXPECT_EQ(readFile(steps), "launchctl unload -w -S Aqua " + agentJob + "\ntool\nlaunchctl load -w -S Aqua " + agentJob +
                                       "\nstarted\n");
        // Five seconds later, from a detached child: the old copy in the Trash under a free name.
        EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(host(trash + expected + "/Contents/Info.plist")); }, 60));
        EXPECT_FALSE(std::filesystem::exists(host(app)));
        EXPECT_EQ(modeOf(host(trash)), 0700u);
    }
}

TEST_F(InstallerTest, FreeCopyNames) {
    const std::string trash = "/Users/tester/.Trash";
    std::filesystem::create_directories(host(trash));
    const std::string plain = trash + "/Telvo Server (3.03).app";
    EXPECT_EQ(installer().temporaryCopyNameForPath(plain), plain);
    std::filesystem::create_directories(host(plain));
    EXPECT_EQ(installer().temporaryCopyNameForPath(plain), trash + "/Telvo Server (3.03) 2.app");
    std::filesystem::create_directories(host(trash + "/Telvo Server (3.03) 2.app"));
    EXPECT_EQ(installer().temporaryCopyNameForPath(plain), trash + "/Telvo Server (3.03) 3.app");
    // No extension: the number goes last.
    std::ofstream(host(trash + "/notes")).flush();
    EXPECT_EQ(installer().temporaryCopyNameForPath(trash + "/notes"), trash + "/notes 2");
}

TEST_F(InstallerTest, StartUpConfiguresTheUpdateCheckerAndTheMenuChecksAsTheUser) {
    installed(0, true);
    markInstalled();
    startApp();
    app::UpdateChecker* checker = app::UpdateChecker::sharedUpdateChecker();
    EXPECT_FALSE(checker->userInitiated);
    EXPECT_EQ(checker->feed, kUnservedFeed);  // the fixture's settings file names it
    EXPECT_EQ(checker->currentVersion, 3.03f);
    EXPECT_EQ(checker->currentVersionBuild, 270);
    EXPECT_EQ(checker->installMode, 4);
    EXPECT_EQ(checker->installLocation, "/Applications");
    EXPECT_TRUE(action("actionCheckForUpdates")->isEnabled());
    // The silent check of the launch ends first (nothing shown), then the user asks.
    ASSERT_TRUE(waitFor([&] { return !checker->active; }));
    EXPECT_EQ(checker->alert(), nullptr);
    action("actionCheckForUpdates")->trigger();
    EXPECT_TRUE(checker->userInitiated);
    // The check the user sees: the checking window at once, then (nobody serves the feed) the
    // error alert in its place.
    ASSERT_NE(checker->downloadingWindow, nullptr);
    EXPECT_TRUE(checker->downloadingWindow->isVisible());
    ASSERT_TRUE(waitFor([&] { return checker->alert() != nullptr && checker->alert()->isVisible(); }));
    EXPECT_FALSE(checker->downloadingWindow->isVisible());
    EXPECT_EQ(checker->alert()->text(), QStringLiteral("Update Error!"));
    screenshot("update-error");
    checker->alert()->close();
}

TEST_F(InstallerTest, AnOfferedUpdateShowsItsWindowWithTheNotesAndRemindHidesIt) {
    update::test::HttpsTestServer server;
    if (!server.failure().empty()) GTEST_SKIP() << "no HTTPS test server: " << server.failure();
    server.addFile("notes.html",
                   "<html><body><h1>What is new</h1><p>Faster sampling and a clearer log.</p></body></html>");
    server.setAnswer("/telvoserver3/version.php",
                     "<?xml version=\"1.0\"?><versions><b version=\"3.04\" build=\"271\" url=\"" +
                         server.url("/files/Telvo%20Server%203.04.zip") + "\" releasenotes=\"" +
                         server.url("/files/notes.html") + "\"/></versions>");
    installed(0, true);
    markInstalled();
    ASSERT_TRUE(startDaemon());
    startApp();
    app::UpdateChecker* checker = app::UpdateChecker::sharedUpdateChecker();
    ASSERT_TRUE(waitFor([&] { return !checker->active; }));
    update::setCAFile(server.caFile());
    checker->feed = server.url("/telvoserver3/version.php");
    action("actionCheckForUpdates")->trigger();
    ASSERT_NE(checker->updateWindow, nullptr);
    ASSERT_TRUE(waitFor([&] { return checker->updateWindow->isVisible(); }, 30));
    ASSERT_TRUE(waitFor([&] { return checker->webview->toPlainText().contains("Faster sampling"); }, 30));
    const QString offer = checker->updateWindowLine2->text();
    EXPECT_TRUE(offer.contains(" 3.04 is now available--you have 3.03.")) << offer.toStdString();
    serveFor(0.2);
    screenshot("update-available");
    QTest::mouseClick(checker->updateWindowRemindButton, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return !checker->updateWindow->isVisible(); }, 10));
    update::setCAFile("");
}

TEST_F(InstallerTest, TheFeedComesFromTheSettingsFileOnlyWhenOnlyRootMayWriteIt) {
    installed(0, true);
    markInstalled();
    ASSERT_TRUE(plist::writeFile(Value(ValueDictionary{{"UpdateFeed", Value("https://127.0.0.1:9/telvoserver3/other.php")}}),
                                 "/etc/telvo/app.plist"));
    ::chmod(host("/etc/telvo/app.plist").c_str(), 0644);
    startApp();
    EXPECT_EQ(app::UpdateChecker::sharedUpdateChecker()->feed, "https://127.0.0.1:9/telvoserver3/other.php");
    // A file that others may write is not taken: the feed is the maker's (asked here of the
    // settings alone, so that no check goes out to it).
    ::chmod(host("/etc/telvo/app.plist").c_str(), 0666);
    EXPECT_EQ(app::WebPages::updateFeed(nullptr), "https://" TELVO_TEST_UPDATE_HOST "/telvoserver3/version.php");
    EXPECT_TRUE(loggedPart("not a root-owned file that only root may write"));
}

TEST_F(InstallerTest, WebActionsOpenTheMakersPages) {
    installed(0, true);
    markInstalled();
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    startApp();
    for (const char* name : {"actionHelp", "actionPortHelp", "actionRss", "actionKestro", "actionTwitter"}) action(name)->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(recorder.urls.size(), 5u);
    const std::pair<const char*, const char*> expected[] = {
        {"https", "/help/telvo3/telvoservermac/"},
        {"http", "/help/telvo3/portforwarding/"},
        {"http", "/follow/"},
        {"http", ""},
        {"https", nullptr},
    };
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(recorder.urls[i].scheme().toStdString(), expected[i].first) << i;
        if (expected[i].second) {
            EXPECT_EQ(recorder.urls[i].path().toStdString(), expected[i].second) << i;
            EXPECT_EQ(recorder.urls[i].host().toStdString(), TELVO_TEST_WEB_HOST) << i;
        }
    }
}

}  // namespace
}  // namespace telvo::testing

#include "InstallerTest.moc"
