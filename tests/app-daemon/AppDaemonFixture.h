#pragma once
// The harness's fixture: a private file-system root (short, so that socket paths fit), the
// real TelvoServerDaemon as a child on a free port, the control application started in this
// process as its main() starts it, and helpers to wait on the interface, find its objects by
// name and grab the screen.
//
// A panel's test: startDaemon(), startApp(), then find the panel's controls by object name
// (widget<T>("name")), drive them with QTest, check the daemon's side with ServiceCaller
// (caller()) and record each state with screenshot("panel-state").
#include <gtest/gtest.h>
#include <sys/types.h>

#include <QApplication>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/delegate/TVSAppDelegate.h"
#include "daemon/control/ControlClient.h"

namespace telvo::testing {

class AppDaemonTest : public ::testing::Test {
protected:
    static constexpr const char* kDaemonProgram = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";
    static constexpr const char* kBundle = TELVO_BUNDLE_DIR "/Telvo Server.app";
    static constexpr const char* kScreenshots = TELVO_BINARY_DIR "/tests/app-daemon/screenshots";
    static constexpr const char* kDaemonLog = "/Library/Logs/TelvoServer.log";
    static constexpr const char* kDaemonPreferences = "/Library/Preferences/com.kestro.telvoserverbackend.plist";
    // The update feed every test's application is given: a loopback port that nothing serves.
    static constexpr const char* kUnservedFeed = "https://127.0.0.1:9/telvoserver3/version.php";

    void SetUp() override;
    void TearDown() override;

    // The layout the installer looks for at launch (the daemon's job file, its program and the
    // agent's folder, no Info.plist) and "welcome shown", so that a panel's test starts on the
    // main window; a test of the installer sets freshInstall_ in its constructor instead.
    void markInstalled();
    bool freshInstall_ = false;

    // The host path of a path under the private root.
    std::string host(const std::string& path) const { return root_ + path; }

    // Starts the daemon (environment additions "NAME=value") and waits until it listens on
    // port_; answers false (with the log) when it does not.
    bool startDaemon(const std::vector<std::string>& environment = {});
    void signalDaemon(int signal);
    // SIGKILL and reaped.
    void killDaemon();
    std::string daemonLog() const;
    bool daemonLogged(const std::string& message) const;

    // The application, as main() starts it.
    void startApp();
    app::TVSAppDelegate& delegate() { return *delegate_; }
    template <class T>
    T* widget(const char* name) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (T* w = top->objectName() == name ? qobject_cast<T*>(top) : top->findChild<T*>(name)) return w;
        return nullptr;
    }

    // Serves Qt's events (and with them the main queue) until the predicate holds or
    // `seconds` of real time passed; answers the predicate.
    bool waitFor(const std::function<bool()>& predicate, double seconds = 60);
    void serveFor(double seconds) { waitFor([] { return false; }, seconds); }
    // The whole screen as <build>/tests/app-daemon/screenshots/<name>.png.
    void screenshot(const std::string& name);

    // A caller of the daemon's service (root: admitted).
    ServiceCaller& caller();
    std::string passcode();

    // The connection image, the clients table's rows.
    QString statusImage();
    std::vector<std::vector<std::string>> rows();

    // The in-process notifications the connection posted, in order; and the system-log lines.
    std::vector<std::string> posted();
    void clearPosted();
    std::vector<std::string> systemLog();

    std::string root_;
    uint16_t port_ = 0;
    pid_t daemon_ = -1;

private:
    std::unique_ptr<app::TVSAppDelegate> delegate_;
    std::unique_ptr<ServiceCaller> caller_;
    std::mutex mutex_;
    std::vector<std::string> posted_;
    std::vector<std::string> log_;
    std::vector<uint64_t> observers_;
};

}  // namespace telvo::testing
