// The update windows against the HTTPS test server: the offer's texts and buttons, the checking
// state and the alerts of a user-initiated check, progress, the release notes and their links,
// skip and download.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include "UpdateWindowsFixture.h"
#include "app/controls/LocalizedButton.h"
#include "app/controls/LocalizedTextField.h"
#include "app/update/ProgressIndicator.h"
#include "app/update/ReleaseNotesView.h"
#include "update/UpdateCheckerCore.h"

namespace telvo::app::testing {
namespace {

TEST_F(UpdateWindowsTest, TheEnginesOwnSharedInstanceIsRefused) {
    EXPECT_EQ(update::UpdateCheckerCore::sharedUpdateChecker(), nullptr);
    EXPECT_EQ(UpdateChecker::sharedUpdateChecker(), UpdateChecker::sharedUpdateChecker());
}

TEST_F(UpdateWindowsTest, AnOfferShowsItsVersionsAndKeepsTheRemindButtonBesideDownload) {
    struct Case {
        const char* version;
        int build;
        const char* more;
        const char* line2;
        const char* title;
        const char* downloadTitle;
    } cases[] = {
        {"3.03", 271, "", "Telvo Server 3.03 (271) is now available--you have 3.03 (270). Would you like to download it now?",
         "Telvo Server 3.03 (271) is now available", "Install Update"},
        {"3.04", 271, "", "Telvo Server 3.04 is now available--you have 3.03. Would you like to download it now?",
         "Telvo Server 3.04 is now available", "Install Update"},
        {"3.04", 272, "downloadButtonTitle=\"Fetch the whole new version right now\" laterButtonTitle=\"Not now\"",
         "Telvo Server 3.04 is now available--you have 3.03. Would you like to download it now?",
         "Telvo Server 3.04 is now available", "Fetch the whole new version right now"},
        // The next offer without titles has the window's own again.
        {"3.04", 273, "", "Telvo Server 3.04 is now available--you have 3.03. Would you like to download it now?",
         "Telvo Server 3.04 is now available", "Install Update"},
    };
    UpdateChecker& c = checker();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line2);
        answer({build(k.version, k.build, k.more)});
        check(false);  // a silent check shows an offer too
        ASSERT_TRUE(c.updateWindow->isVisible());
        EXPECT_EQ(find<QWidget>("updateWindow"), c.updateWindow);
        EXPECT_EQ(c.updateWindow->windowTitle().toStdString(), k.title);
        EXPECT_EQ(find<LocalizedTextField>("updateWindowLine1")->text().toStdString(),
                  "A new version of Telvo Server is available!");
        EXPECT_EQ(find<LocalizedTextField>("updateWindowLine2")->text().toStdString(), k.line2);
        LocalizedButton* download = find<LocalizedButton>("updateWindowDownloadButton");
        LocalizedButton* remind = find<LocalizedButton>("updateWindowRemindButton");
        EXPECT_EQ(download->text().toStdString(), k.downloadTitle);
        const int width = c.updateWindow->width();
        EXPECT_EQ(download->x(), width - download->width() - 20);
        EXPECT_EQ(remind->x() + remind->width() + 8, download->x());
        EXPECT_GE(download->width(), QFontMetrics(download->font()).horizontalAdvance(download->text()) + 30);
        EXPECT_EQ(find<LocalizedButton>("updateWindowSkipButton")->x(), 20);
        EXPECT_FALSE(find<QWidget>("downloadingWindow")->isVisible());
        EXPECT_TRUE(visibleAlert() == nullptr);
        // Remind later: the window goes, nothing is stored.
        QTest::mouseClick(remind, Qt::LeftButton);
        EXPECT_FALSE(c.updateWindow->isVisible());
        EXPECT_FALSE(c.active);
    }
    EXPECT_EQ(find<LocalizedButton>("updateWindowRemindButton")->text(), QStringLiteral("Remind Me Later"));
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "remind"), 4);
    EXPECT_TRUE(preferences(root)[update::UpdateCheckerCore::kSkipBuildKey].isNull());
}

TEST_F(UpdateWindowsTest, ProgressShowsAmountsAndThePartDone) {
    UpdateChecker& c = checker();
    auto* bar = find<ProgressIndicator>("downloadProgressIndicator");
    auto* line2 = find<LocalizedTextField>("downloadWindowLine2");
    c.fileDownloadDownloadedBytes(nullptr, 500 * 1024, 3 * 1048576);
    EXPECT_EQ(line2->text(), QStringLiteral("500KB of 3.00MB"));
    EXPECT_FALSE(bar->isIndeterminate());
    EXPECT_NEAR(bar->doubleValue(), 16.3, 0.05);
    EXPECT_EQ(bar->value(), 163);
    // The display is coalesced: the next amounts show within the interval, the last one wins.
    c.fileDownloadDownloadedBytes(nullptr, 600 * 1024, 3 * 1048576);
    // No announced length: a running bar and the amount received, never a negative figure.
    c.fileDownloadDownloadedBytes(nullptr, 2.5 * 1048576, -1);
    EXPECT_EQ(line2->text(), QStringLiteral("500KB of 3.00MB"));
    ASSERT_TRUE(waitFor([&] { return line2->text() == QStringLiteral("2.50MB"); }));
    EXPECT_TRUE(bar->isIndeterminate());
    EXPECT_TRUE(bar->isAnimating());
    // More than announced stays at the end of the bar.
    c.fileDownloadDownloadedBytes(nullptr, 4000, 2000);
    ASSERT_TRUE(waitFor([&] { return !bar->isIndeterminate(); }));
    EXPECT_EQ(bar->doubleValue(), 100);
    EXPECT_EQ(line2->text(), QStringLiteral("4KB of 2KB"));

    struct Case {
        double bytes;
        const char* text;
    } cases[] = {{0, "0KB"},         {1536, "2KB"},         {1048576, "1024KB"},          {1048577, "1.00MB"},
                 {3145728, "3.00MB"}, {1073741824, "1024.00MB"}, {1073741825, "1.00GB"}, {5.5 * 1073741824, "5.50GB"}};
    for (const Case& k : cases) EXPECT_EQ(UpdateChecker::formattedBandwidth(k.bytes).toStdString(), k.text) << k.bytes;
}

// The link's text position in the view, clicked with the mouse.
void clickLink(QTextBrowser* view, const QString& text) {
    QTextCursor found = view->document()->find(text);
    ASSERT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor middle(view->document());
    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    const QRect at = view->cursorRect(middle);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at.center());
}

TEST_F(UpdateWindowsTest, ReleaseNotesAreFetchedShownAndOnlyWebLinksOpen) {
    QImage picture(4, 3, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(QString::fromStdString(server->folder() + "/pic.png"), "PNG");
    const std::string page = server->url("/files/notes.html");
    server->addFile("notes.html",
                    "<html><body><h1>What is new</h1><p>Fixed everything at once.</p>"
                    "<p><a href=\"https://example.com/more\">web link</a></p>"
                    "<p><a href=\"relative.html\">relative link</a></p>"
                    "<p><a href=\"file:///etc/passwd\">file link</a></p>"
                    "<p><a href=\"javascript:alert(1)\">script link</a></p>"
                    "<p><img src=\"" + server->url("/files/pic.png") + "\"> <img src=\"file:///etc/hostname\"></p>"
                    "</body></html>");
    answer({build("3.04", 271, "releasenotes=\"" + page + "\"")});
    UpdateChecker& c = checker();
    check(false);
    auto* view = find<ReleaseNotesView>("webview");
    ASSERT_TRUE(view);
    ASSERT_TRUE(waitFor([&] { return view->notesLoaded() && view->imagesLoaded() == 1; }));
    EXPECT_NE(server->gets().find("/files/notes.html?v=270&p=10.13&lang=en\n"), std::string::npos) << server->gets();
    EXPECT_NE(view->toPlainText().indexOf(QStringLiteral("Fixed everything at once.")), -1);
    EXPECT_FALSE(view->document()->resource(QTextDocument::ImageResource, QUrl(QString::fromStdString(server->url("/files/pic.png"))))
                     .isNull());
    EXPECT_EQ(server->gets().find("hostname"), std::string::npos);
    EXPECT_FALSE(view->openLinks());

    for (const char* text : {"web link", "relative link", "file link", "script link"}) clickLink(view, QString::fromLatin1(text));
    EXPECT_EQ(browser.opened, QStringList({QStringLiteral("https://example.com/more"),
                                           QString::fromStdString(server->url("/files/relative.html"))}));
    // Nothing navigated inside the window.
    EXPECT_NE(view->toPlainText().indexOf(QStringLiteral("Fixed everything at once.")), -1);
    EXPECT_TRUE(view->source().isEmpty());

    // An offer without notes asks for none and shows none.
    c.updateWindow->hide();
    const std::string asked = server->gets();
    answer({build("3.04", 272)});
    check(false);
    ASSERT_TRUE(c.updateWindow->isVisible());
    settle();
    EXPECT_EQ(server->gets(), asked);
    EXPECT_TRUE(view->toPlainText().isEmpty());
}

TEST_F(UpdateWindowsTest, ASilentCheckShowsNoFailureAndAUserInitiatedOneExplains) {
    const std::string checkError = "An error occurred in retrieving update information. Please try again later.";
    struct Case {
        const char* name;
        std::string answer;  // "" for a feed nobody answers
        const char* message;
        std::string informative;
    } cases[] = {
        {"not XML", "<html>Bad gateway", "Update Error!", checkError},
        {"no server", "", "Update Error!", checkError},
        {"nothing new", "<versions><b version=\"3.03\" build=\"270\"/></versions>", "You're up to date!",
         "You already have the newest version of Telvo Server."},
    };
    UpdateChecker& c = checker();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        if (k.answer.empty())
            c.feed = "https://127.0.0.1:1/telvoserver3/version.php";
        else {
            c.feed = server->url(kFeedPath);
            server->setAnswer(kFeedPath, k.answer);
        }
        check(false);
        EXPECT_TRUE(visibleAlert() == nullptr);
        EXPECT_FALSE(c.downloadingWindow->isVisible());
        EXPECT_FALSE(c.updateWindow->isVisible());

        c.userInitiated = true;
        ASSERT_TRUE(c.checkForUpdates());
        // The checking state, until the answer comes.
        EXPECT_TRUE(c.downloadingWindow->isVisible());
        EXPECT_TRUE(c.downloadingWindow->windowTitle().isEmpty());
        EXPECT_EQ(find<LocalizedTextField>("downloadWindowLine1")->text(), QStringLiteral("Checking for updates..."));
        EXPECT_TRUE(find<LocalizedTextField>("downloadWindowLine2")->text().isEmpty());
        EXPECT_TRUE(find<ProgressIndicator>("downloadProgressIndicator")->isIndeterminate());
        EXPECT_TRUE(find<ProgressIndicator>("downloadProgressIndicator")->isAnimating());
        settle();
        QMessageBox* alert = visibleAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text().toStdString(), k.message);
        EXPECT_EQ(alert->informativeText().toStdString(), k.informative);
        EXPECT_EQ(alert->windowModality(), Qt::ApplicationModal);
        ASSERT_EQ(alert->buttons().size(), 1);
        EXPECT_EQ(alert->buttons()[0]->text(), QStringLiteral("OK"));
        EXPECT_FALSE(c.downloadingWindow->isVisible());
        EXPECT_FALSE(find<ProgressIndicator>("downloadProgressIndicator")->isAnimating());
        QTest::mouseClick(alert->buttons()[0], Qt::LeftButton);
        EXPECT_TRUE(waitFor([&] { return visibleAlert() == nullptr; }));
    }
}

TEST_F(UpdateWindowsTest, AnAnswerAfterCancelShowsNothing) {
    answer({build("3.04", 271)});
    UpdateChecker& c = checker();
    c.userInitiated = true;
    ASSERT_TRUE(c.checkForUpdates());
    ASSERT_TRUE(c.downloadingWindow->isVisible());
    QTest::mouseClick(find<QPushButton>("downloadWindowCancelButton"), Qt::LeftButton);
    EXPECT_FALSE(c.downloadingWindow->isVisible());
    EXPECT_TRUE(c.cancelled);
    EXPECT_FALSE(c.active);
    // The answer comes and is dropped.
    ASSERT_TRUE(waitFor([&] { return !server->posts().empty(); }));
    settle();
    EXPECT_FALSE(c.updateWindow->isVisible());
    EXPECT_FALSE(c.downloadingWindow->isVisible());
    EXPECT_TRUE(visibleAlert() == nullptr);
    EXPECT_EQ(delegate.events, std::vector<std::string>({"cancelled"}));
}

TEST_F(UpdateWindowsTest, SkipHoldsOnlyForSilentChecksAndDownloadClearsIt) {
    const std::string url = servePayload();
    answer({build("3.04", 271)});
    UpdateChecker& c = checker();
    check(false);
    ASSERT_TRUE(c.updateWindow->isVisible());
    QTest::mouseClick(find<QPushButton>("updateWindowSkipButton"), Qt::LeftButton);
    EXPECT_FALSE(c.updateWindow->isVisible());
    // Both keys as floating-point numbers in the application's own preferences file.
    Value stored = preferences(root);
    ASSERT_TRUE(stored[update::UpdateCheckerCore::kSkipBuildKey].isDouble()) << stored.description();
    EXPECT_EQ(stored[update::UpdateCheckerCore::kSkipBuildKey].doubleValue(), 271.0);
    ASSERT_TRUE(stored[update::UpdateCheckerCore::kSkipVersionKey].isDouble());
    EXPECT_NEAR(stored[update::UpdateCheckerCore::kSkipVersionKey].doubleValue(), 3.04, 1e-6);
    EXPECT_EQ(c.skippedBuild(), 271);

    check(false);
    EXPECT_FALSE(c.updateWindow->isVisible());
    EXPECT_TRUE(visibleAlert() == nullptr);

    check(true);
    ASSERT_TRUE(c.updateWindow->isVisible());
    QTest::mouseClick(find<QPushButton>("updateWindowDownloadButton"), Qt::LeftButton);
    EXPECT_FALSE(c.updateWindow->isVisible());
    EXPECT_TRUE(c.downloadingWindow->isVisible());
    EXPECT_EQ(find<LocalizedTextField>("downloadWindowLine1")->text(), QStringLiteral("Downloading..."));
    stored = preferences(root);
    EXPECT_TRUE(stored[update::UpdateCheckerCore::kSkipBuildKey].isNull()) << stored.description();
    EXPECT_TRUE(stored[update::UpdateCheckerCore::kSkipVersionKey].isNull());

    // The download ends in the install window.
    ASSERT_TRUE(waitFor([&] { return c.installWindow->isVisible(); }));
    EXPECT_FALSE(c.downloadingWindow->isVisible());
    EXPECT_TRUE(find<QPushButton>("installWindowInstallButton")->isEnabled());
    EXPECT_EQ(c.installWindow->windowTitle(), QStringLiteral("Ready to Install"));
    EXPECT_FALSE(find<QLabel>("installWindowIcon")->pixmap().isNull());
    EXPECT_EQ(find<QLabel>("installWindowIcon")->pixmap().size(), QSize(64, 64));
    EXPECT_EQ(find<LocalizedTextField>("downloadWindowLine2")->text().endsWith(QStringLiteral("KB")), true);
    QTest::mouseClick(find<QPushButton>("installWindowCancelButton"), Qt::LeftButton);
    EXPECT_FALSE(c.installWindow->isVisible());
}

TEST_F(UpdateWindowsTest, SkipWithADomainWritesTheBuildAsAnInteger) {
    answer({build("3.04", 271)});
    UpdateChecker& c = checker();
    c.preferencesDomain = "com.kestro.TelvoServer";
    check(false);
    ASSERT_TRUE(c.updateWindow->isVisible());
    c.skip(nullptr);
    const Value stored = preferences(root);
    EXPECT_TRUE(stored[update::UpdateCheckerCore::kSkipBuildKey].isInteger()) << stored.description();
    EXPECT_EQ(stored[update::UpdateCheckerCore::kSkipBuildKey].intValue(), 271);
    EXPECT_TRUE(stored[update::UpdateCheckerCore::kSkipVersionKey].isDouble());
    EXPECT_EQ(delegate.events, std::vector<std::string>({"skip"}));
}

TEST_F(UpdateWindowsTest, AFailedOrCancelledDownloadEndsQuietlyOrWithTheDownloadError) {
    UpdateChecker& c = checker();
    answer({"<b version=\"3.04\" build=\"271\" url=\"" + server->url("/missing") + "\"/>"});
    check(true);
    ASSERT_TRUE(c.updateWindow->isVisible());
    c.downloadUpdate(nullptr);
    ASSERT_TRUE(waitFor([&] { return visibleAlert() != nullptr; }));
    EXPECT_EQ(visibleAlert()->text(), QStringLiteral("Update Error!"));
    EXPECT_EQ(visibleAlert()->informativeText(),
              QStringLiteral("An error occurred while downloading the update. Please try again later."));
    EXPECT_FALSE(c.downloadingWindow->isVisible());
    EXPECT_FALSE(c.installWindow->isVisible());
    dismissAlerts();

    // A download that stalls, cancelled: nothing more is shown.
    answer({"<b version=\"3.04\" build=\"271\" url=\"" + server->url("/stall") + "\"/>"});
    check(true);
    c.downloadUpdate(nullptr);
    ASSERT_TRUE(waitFor([&] { return find<LocalizedTextField>("downloadWindowLine2")->text().contains("of"); }));
    EXPECT_EQ(find<LocalizedTextField>("downloadWindowLine2")->text(), QStringLiteral("0KB of 1KB"));
    QTest::mouseClick(find<QPushButton>("downloadWindowCancelButton"), Qt::LeftButton);
    EXPECT_FALSE(c.downloadingWindow->isVisible());
    EXPECT_EQ(c.downloader, nullptr);
    EXPECT_FALSE(c.active);
    settle();
    EXPECT_TRUE(visibleAlert() == nullptr);
    EXPECT_FALSE(c.installWindow->isVisible());
}

}  // namespace
}  // namespace telvo::app::testing
