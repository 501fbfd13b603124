#pragma once
// The update windows' fixture: a private root with an installed "Telvo Server.app" 3.03 (270)
// as the main bundle (its English string table from the source tree), preferences and a Trash
// of its own, the update tests' HTTPS server as the feed, and the browser replaced by a
// recorder of the addresses opened. Widgets are found by object name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HttpsTestServer.h"
#include "app/update/UpdateChecker.h"

namespace telvo::app::testing {

// Stands for the browser: records each address opened.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

// Records the delegate messages of the update windows.
struct WindowsDelegate : update::UpdateCheckerDelegate {
    std::vector<std::string> events;
    std::string finishedPath;
    void updateCheckerFinishWithPath(update::UpdateCheckerCore*, const std::string& path) override {
        events.push_back("finishWithPath");
        finishedPath = path;
    }
    void updaterStartingInstall(update::UpdateCheckerCore*) override { events.push_back("startingInstall"); }
    void updateCheckerRemindMeLater(update::UpdateCheckerCore*) override { events.push_back("remind"); }
    void updateCheckerSkip(update::UpdateCheckerCore*) override { events.push_back("skip"); }
    void updateCheckerCancelled(update::UpdateCheckerCore*) override { events.push_back("cancelled"); }
};

class UpdateWindowsTest : public ::testing::Test {
protected:
    static constexpr const char* kFeedPath = "/telvoserver3/version.php";

    void SetUp() override;
    void TearDown() override;

    // The shared checker on the test server's feed, as the application delegate sets it up.
    UpdateChecker& checker();
    // The feed answers with these build elements.
    void answer(const std::vector<std::string>& elements);
    // One build element of version/build with more attributes.
    std::string build(const std::string& version, int build, const std::string& more = "") const;
    // Starts a check and serves the main queue and Qt until its answer was handled.
    void check(bool userInitiated);
    // Serves Qt's events and the main queue until the predicate holds (or `seconds` passed).
    bool waitFor(const std::function<bool()>& predicate, double seconds = 60);
    // Serves until no queue has work left (the answer of a request in flight included).
    void settle();

    template <class T>
    T* find(const char* name) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (T* w = top->objectName() == name ? qobject_cast<T*>(top) : top->findChild<T*>(name)) return w;
        return nullptr;
    }
    // The update alert on screen, if any.
    QMessageBox* visibleAlert();
    // Closes every alert on screen.
    void dismissAlerts();

    // A string table "<language>.lproj/updater.strings" in the bundle; the user's languages.
    void writeTable(const std::string& language, const std::map<std::string, std::string>& entries);
    void setLanguages(const std::vector<std::string>& languages);

    // The application the server offers, zipped as "/files/<zip>": version 3.04, build 271,
    // signed by the test maker (its executable the relaunch probe) unless `variant` says
    // otherwise ("unsigned", "tampered", "build272", "other", "noexec", "pkg"). Answers the download address.
    std::string servePayload(const std::string& variant = "", const std::string& zip = "Telvo Server 3.04.zip");
    // The anchor store of the private root trusts the test maker.
    void trustTestMaker();

    std::unique_ptr<update::test::HttpsTestServer> server;
    std::string root;
    std::string bundlePath;  // host path of the installed application
    std::string savedHome;
    UrlRecorder browser;
    WindowsDelegate delegate;
};

// The text of a preferences file of the private root, parsed.
Value preferences(const std::string& root);

}  // namespace telvo::app::testing
