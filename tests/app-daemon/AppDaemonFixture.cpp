#include "AppDaemonFixture.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "daemon/FreePort.h"
#include "app/ApplicationState.h"
#include "app/cells/ImageView.h"
#include "app/connection/TVSXPCConnection.h"
#include "app/delegate/Startup.h"
#include "app/drawing/ImageCache.h"
#include "app/installer/Installer.h"
#include "app/overlay/OverlayController.h"
#include "app/ports/TVSPortController.h"
#include "app/update/UpdateChecker.h"
#include "foundation/KXRVersions.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {

void AppDaemonTest::SetUp() {
    if (!qApp) GTEST_SKIP() << "no X display: the harness runs under xvfb-run (install xvfb)";
    if (geteuid() != 0) GTEST_SKIP() << "the daemon runs as root";
    char pattern[] = "/tmp/tvh-XXXXXX";  // short: the service sockets' paths must fit 108 bytes
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    chmod(root_.c_str(), 0755);
    fs::setRootForTesting(root_);
    defaults::UserDefaults::setPreferencesFolderForTesting(root_ + "/home/Library/Preferences");
    defaults::UserDefaults::resetForTesting();
    port_ = freePort();
    ASSERT_NE(port_, 0);
    std::filesystem::create_directories(host("/Library/Preferences"));
    Value prefs(ValueDictionary{{"port", Value(int(port_))}, {"bonjour enabled", Value(0)}});
    ASSERT_TRUE(plist::writeFile(prefs, kDaemonPreferences));
    // The application checks its update feed at launch: here a loopback port nobody serves, so
    // that no test reaches the maker's server.
    std::filesystem::create_directories(host("/etc/telvo"));
    ASSERT_TRUE(plist::writeFile(Value(ValueDictionary{{"UpdateFeed", Value(kUnservedFeed)}}), "/etc/telvo/app.plist"));
    ::chmod(host("/etc/telvo/app.plist").c_str(), 0644);
    systemlog::setCaptureForTesting([this](const std::string& line) {
        std::lock_guard lock(mutex_);
        log_.push_back(line);
    });
    if (!freshInstall_) markInstalled();
    auto& centre = notify::NotificationCenter::defaultCenter();
    for (const char* name : app::TVSXPCConnection::kUpdateNotifications)
        observers_.push_back(centre.addObserver(name, nullptr, nullptr, [this](const notify::Notification& n) {
            std::lock_guard lock(mutex_);
            posted_.push_back(n.name);
        }));
}

void AppDaemonTest::TearDown() {
    if (root_.empty()) return;
    caller_.reset();
    app::TVSPortController::resetForTesting();
    delegate_.reset();
    app::Installer::resetForTesting();
    app::UpdateChecker::resetForTesting();
    app::stopApplication();
    app::TVSXPCConnection::resetForTesting();
    app::OverlayController::resetForTesting();
    app::ApplicationState::resetForTesting();
    for (auto token : observers_) notify::NotificationCenter::defaultCenter().removeObserver(token);
    notify::NotificationCenter::resetForTesting();
    dispatch::MainLoop::resetForTesting();
    systemlog::setCaptureForTesting(nullptr);
    if (daemon_ > 0) killDaemon();
    unsetenv("TELVO_OS_VERSION");
    KXRVersions::resetForTesting();
    defaults::UserDefaults::setPreferencesFolderForTesting("");
    defaults::UserDefaults::resetForTesting();
    fs::setRootForTesting("");
    std::filesystem::remove_all(root_);
}

void AppDaemonTest::markInstalled() {
    const std::string support = "/Library/Application Support/Telvo Server";
    std::filesystem::create_directories(host(support + "/TelvoServerAgent.app"));
    std::filesystem::create_directories(host("/Library/LaunchDaemons"));
    std::ofstream(host(support + "/TelvoServerDaemon")).flush();
    std::ofstream(host("/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist")).flush();
    auto& defaults = defaults::UserDefaults::standard();
    defaults.setObject(app::TVSAppDelegate::kWelcomeShownKey, Value(true));
    defaults.synchronize();
}

bool AppDaemonTest::startDaemon(const std::vector<std::string>& environment) {
    if (!std::filesystem::exists(kDaemonProgram)) {
        ADD_FAILURE() << "no " << kDaemonProgram;
        return false;
    }
    // A restart waits for its own line, not for the one of the run before.
    size_t before = daemonLog().size();
    daemon_ = fork();
    if (daemon_ == 0) {
        // Gone with the harness, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("TELVO_ROOT", root_.c_str(), 1);
        setenv("TELVO_NETSTATE_FILE", "/nonexistent", 1);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        for (const std::string& pair : environment) putenv(strdup(pair.c_str()));
        execl(kDaemonProgram, kDaemonProgram, nullptr);
        _exit(127);
    }
    const std::string ready = ": Waiting for connections on port " + std::to_string(port_) + ".\n";
    bool listening = waitFor([&] { return daemonLog().find(ready, before) != std::string::npos; }, 60);
    EXPECT_TRUE(listening) << daemonLog();
    return listening;
}

void AppDaemonTest::signalDaemon(int signal) {
    if (daemon_ > 0) kill(daemon_, signal);
}

void AppDaemonTest::killDaemon() {
    if (daemon_ <= 0) return;
    kill(daemon_, SIGCONT);
    kill(daemon_, SIGKILL);
    waitpid(daemon_, nullptr, 0);
    daemon_ = -1;
}

std::string AppDaemonTest::daemonLog() const {
    std::ifstream in(root_ + kDaemonLog);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool AppDaemonTest::daemonLogged(const std::string& message) const {
    return daemonLog().find(": " + message) != std::string::npos;
}

void AppDaemonTest::startApp() { delegate_ = app::startApplication(*qApp); }

bool AppDaemonTest::waitFor(const std::function<bool()>& predicate, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return predicate();
        QTest::qSleep(5);
    }
}

void AppDaemonTest::screenshot(const std::string& name) {
    serveFor(0.3);  // every window painted
    QDir().mkpath(kScreenshots);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    QPixmap shot = screen->grabWindow(0);
    std::string path = std::string(kScreenshots) + "/" + name + ".png";
    EXPECT_TRUE(shot.save(QString::fromStdString(path), "PNG")) << path;
}

ServiceCaller& AppDaemonTest::caller() {
    if (!caller_) caller_ = std::make_unique<ServiceCaller>("com.kestro.telvoserverdaemon");
    return *caller_;
}

std::string AppDaemonTest::passcode() {
    std::optional<Value> code = caller().call("passcode:");
    return code ? code->stringValue() : std::string();
}

QString AppDaemonTest::statusImage() { return delegate_->connectionStatus()->imageName(); }

std::vector<std::vector<std::string>> AppDaemonTest::rows() {
    std::vector<std::vector<std::string>> out;
    QAbstractItemModel* model = delegate_->clientsTable()->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < model->columnCount(); ++c) row.push_back(model->index(r, c).data().toString().toStdString());
        out.push_back(row);
    }
    return out;
}

std::vector<std::string> AppDaemonTest::posted() {
    std::lock_guard lock(mutex_);
    return posted_;
}

void AppDaemonTest::clearPosted() {
    std::lock_guard lock(mutex_);
    posted_.clear();
}

std::vector<std::string> AppDaemonTest::systemLog() {
    std::lock_guard lock(mutex_);
    return log_;
}

}  // namespace telvo::testing
