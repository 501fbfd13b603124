#include "UpdateWindowsFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QThread>
#include <cstdlib>

#include "QtTestEnvironment.h"
#include "codesign/TestPki.h"
#include "platform/bundle/MainBundle.h"
#include "platform/codesign/Signer.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"
#include "support/FreshInstallRoot.h"
#include "update/HttpTransfer.h"
#include "update/KXRUpdaterLocalizedString.h"
#include "update/LocalizationManager.h"

namespace telvo::app::testing {

using update::test::makeTemporaryFolder;
using update::test::readText;
using update::test::removeTree;
using update::test::writeText;

namespace {

std::string infoPlist(const std::string& identifier, const std::string& version, int build) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>" + identifier +
           "</string><key>CFBundleShortVersionString</key><string>" + version +
           "</string><key>CFBundleVersion</key><string>" + std::to_string(build) +
           "</string><key>CFBundleName</key><string>Telvo Server</string><key>CFBundleExecutable</key>"
           "<string>Telvo Server</string></dict></plist>";
}

}  // namespace

Value preferences(const std::string& root) { return plist::readFile(root + "/prefs/com.kestro.TelvoServer.plist"); }

void UpdateWindowsTest::SetUp() {
    dispatch::MainLoop::resetForTesting();
    root = makeTemporaryFolder("telvo-updatewin-");
    ASSERT_FALSE(root.empty());
    chmod(root.c_str(), 0755);
    fs::setRootForTesting(root);
    fs::createDirectories(root + "/sys/class/dmi/id");
    writeText(root + "/sys/class/dmi/id/product_name", "Standard PC\n");
    fs::createDirectories(root + "/prefs");
    defaults::UserDefaults::setPreferencesFolderForTesting(root + "/prefs");
    defaults::UserDefaults::resetForTesting();
    if (const char* home = std::getenv("HOME")) savedHome = home;
    fs::createDirectories(root + "/home", 0700);
    setenv("HOME", (root + "/home").c_str(), 1);
    fs::createDirectories(root + "/tmp", 0700);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);

    bundlePath = root + "/Applications/Telvo Server.app";
    fs::createDirectories(bundlePath + "/Contents/MacOS");
    fs::createDirectories(bundlePath + "/Contents/Resources/en.lproj");
    writeText(bundlePath + "/Contents/Info.plist", infoPlist("com.kestro.telvoserver", "3.03", 270));
    writeText(bundlePath + "/Contents/Resources/en.lproj/updater.strings",
              readText(std::string(TELVO_SOURCE_DIR) + "/programs/TelvoServerApp/en.lproj/updater.strings"));
    bundle::MainBundle::setPathForTesting(bundlePath);
    update::resetLocalizedStringsForTesting();

    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");

    server = std::make_unique<update::test::HttpsTestServer>();
    if (!server->failure().empty()) GTEST_SKIP() << "no HTTPS test server: " << server->failure();
    update::setCAFile(server->caFile());
}

void UpdateWindowsTest::TearDown() {
    dismissAlerts();
    UpdateChecker::resetForTesting();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    dispatch::MainLoop::resetForTesting();
    update::resetSettingsForTesting();
    server.reset();
    update::resetLocalizedStringsForTesting();
    update::LocalizationManager::resetForTesting();
    bundle::MainBundle::resetForTesting();
    resetApplication();
    fs::setRootForTesting("");
    if (!savedHome.empty()) setenv("HOME", savedHome.c_str(), 1);
    unsetenv("TMPDIR");
    removeTree(root);
}

UpdateChecker& UpdateWindowsTest::checker() {
    UpdateChecker& c = *UpdateChecker::sharedUpdateChecker();
    if (c.feed.empty()) {
        c.feed = server->url(kFeedPath);
        c.currentVersion = 3.03f;
        c.currentVersionBuild = 270;
        c.installMode = 4;
        c.installLocation = "/Applications";
        c.delegate = &delegate;
    }
    return c;
}

void UpdateWindowsTest::answer(const std::vector<std::string>& elements) {
    std::string xml = "<?xml version=\"1.0\"?><versions>";
    for (const auto& e : elements) xml += e;
    server->setAnswer(kFeedPath, xml + "</versions>");
}

std::string UpdateWindowsTest::build(const std::string& version, int number, const std::string& more) const {
    return "<b version=\"" + version + "\" build=\"" + std::to_string(number) + "\" url=\"" +
           server->url("/files/Telvo%20Server%203.04.zip") + "\" " + more + "/>";
}

bool UpdateWindowsTest::waitFor(const std::function<bool()>& predicate, double seconds) {
    QDeadlineTimer deadline(qint64(seconds * 1000));
    while (!predicate()) {
        if (deadline.hasExpired()) return false;
        dispatch::MainLoop::runPending();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!predicate()) QThread::msleep(2);
    }
    return true;
}

void UpdateWindowsTest::settle() {
    for (int i = 0; i < 3; ++i) {
        dispatch::MainLoop::runUntilIdle();
        QCoreApplication::processEvents();
    }
}

void UpdateWindowsTest::check(bool userInitiated) {
    UpdateChecker& c = checker();
    c.userInitiated = userInitiated;
    ASSERT_TRUE(c.checkForUpdates());
    settle();
    ASSERT_FALSE(c.active);
}

QMessageBox* UpdateWindowsTest::visibleAlert() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->objectName() == "updateAlert" && box->isVisible())
            return box;
    return nullptr;
}

void UpdateWindowsTest::dismissAlerts() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->objectName() == "updateAlert") delete box;
}

void UpdateWindowsTest::writeTable(const std::string& language, const std::map<std::string, std::string>& entries) {
    Value table{ValueDictionary{}};
    for (const auto& [key, value] : entries) table.set(key, value);
    fs::createDirectories(bundlePath + "/Contents/Resources/" + language + ".lproj");
    ASSERT_TRUE(plist::writeFile(table, bundlePath + "/Contents/Resources/" + language + ".lproj/updater.strings"));
    update::resetLocalizedStringsForTesting();
}

void UpdateWindowsTest::setLanguages(const std::vector<std::string>& languages) {
    ValueArray list;
    for (const auto& l : languages) list.push_back(Value(l));
    Value global{ValueDictionary{}};
    global.set("AppleLanguages", Value(list));
    ASSERT_TRUE(plist::writeFile(global, root + "/prefs/.GlobalPreferences.plist"));
    defaults::UserDefaults::resetForTesting();
    update::resetLocalizedStringsForTesting();
}

void UpdateWindowsTest::trustTestMaker() {
    const auto& pki = telvo::testing::TestPki::shared();
    ASSERT_TRUE(pki.ok) << pki.failure;
    ASSERT_TRUE(telvo::testing::installMakersAnchor(root, pki.pem("anchor")));
}

std::string UpdateWindowsTest::servePayload(const std::string& variant, const std::string& zip) {
    trustTestMaker();
    const auto& pki = telvo::testing::TestPki::shared();
    const std::string stage = root + "/stage-" + variant;
    const std::string name = variant == "pkg" ? "Telvo Server.pkg" : "Telvo Server.app";
    const std::string app = stage + "/" + name;
    EXPECT_EQ(telvo::testing::run("rm -rf '" + stage + "' && mkdir -p '" + app + "/Contents/MacOS' '" + app +
                                  "/Contents/Resources' && cp '" TELVO_RELAUNCH_PROBE "' '" + app +
                                  "/Contents/MacOS/Telvo Server' && echo notes > '" + app +
                                  "/Contents/Resources/data'"),
              0);
    if (variant == "noexec") chmod((app + "/Contents/MacOS/Telvo Server").c_str(), 0644);
    writeText(app + "/Contents/Info.plist",
              infoPlist(variant == "other" ? "com.example.other" : "com.kestro.telvoserver", "3.04",
                        variant == "build272" ? 272 : 271));
    if (variant != "unsigned" && variant != "pkg") {
        ErrorPtr error;
        EXPECT_TRUE(codesign::signBundle(app, "com.kestro.TelvoServer", pki.identity("leaf", "devIdCA"), 0, &error))
            << (error ? error->message : "");
    }
    if (variant == "tampered") writeText(app + "/Contents/Resources/data", "notez\n");
    EXPECT_EQ(telvo::testing::run("cd '" + stage + "' && bsdtar -a -cf '" + server->folder() + "/" + zip + "' '" +
                                  name + "'"),
              0);
    std::string escaped;
    for (char c : zip) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
    return server->url("/files/" + escaped);
}

}  // namespace telvo::app::testing
