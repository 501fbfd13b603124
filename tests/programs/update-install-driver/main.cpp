// Drives the update windows through one update as a user would: a user-initiated check of the
// feed, Download in the update window, Install in the install window. Each outcome is appended
// to the record file as a line: "quit <seconds>" when the windows end the application after
// the install, "alert <message> | <informative text>" when they show an alert (then it exits
// with 3), "exit <status>" last.
//   update-install-driver --feed <url> --ca <pem> --record <file> [--location <folder>]
//                         [--trampoline <telvo-privileged-exec>]
#include <time.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/LeakSuppressions.h"
#include "app/controls/LocalizedButton.h"
#include "app/update/UpdateChecker.h"
#include "platform/authorization/Authorization.h"
#include "platform/dispatch/MainLoop.h"
#include "update/HttpTransfer.h"

extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

namespace {

std::string gRecord;

double now() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

void record(const std::string& line) {
    if (FILE* f = std::fopen(gRecord.c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::atomic<bool> gWakeQueued{false};

}  // namespace

int main(int argc, char** argv) {
    std::string feed, ca, location = "/Applications", trampoline;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--feed") feed = value;
        else if (key == "--ca") ca = value;
        else if (key == "--record") gRecord = value;
        else if (key == "--location") location = value;
        else if (key == "--trampoline") trampoline = value;
    }
    if (feed.empty() || gRecord.empty()) {
        std::fprintf(stderr, "usage: %s --feed <url> --ca <pem> --record <file> [--location <folder>]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // The main queue runs in Qt's event loop, as in the application.
    QPointer<QApplication> target(&app);
    telvo::dispatch::MainLoop::setWakeHandler([target] {
        if (gWakeQueued.exchange(true) || !target) return;
        QMetaObject::invokeMethod(
            target.data(),
            [] {
                gWakeQueued = false;
                telvo::dispatch::MainLoop::runPending();
            },
            Qt::QueuedConnection);
    });
    if (!ca.empty()) telvo::update::setCAFile(ca);
    if (!trampoline.empty()) telvo::authorization::setTrampolineForTesting(trampoline);

    using telvo::app::UpdateChecker;
    UpdateChecker* checker = UpdateChecker::sharedUpdateChecker();
    checker->userInitiated = true;
    checker->feed = feed;
    checker->installMode = 4;
    checker->installLocation = location;
    checker->setTerminateHandler([&app] {
        record("quit " + std::to_string(now()));
        app.quit();
    });

    bool downloading = false, installing = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (QMessageBox* alert = checker->alert(); alert && alert->isVisible()) {
            record("alert " + alert->text().toStdString() + " | " + alert->informativeText().toStdString());
            app.exit(3);
            return;
        }
        if (!downloading && checker->updateWindow->isVisible()) {
            downloading = true;
            checker->updateWindowDownloadButton->click();
        }
        if (!installing && checker->installWindow->isVisible() && checker->installWindowInstallButton->isEnabled()) {
            installing = true;
            checker->installWindowInstallButton->click();
        }
    });
    poll.start(20);
    QTimer::singleShot(120000, &app, [&app] {
        record("timeout");
        app.exit(5);
    });
    if (!checker->checkForUpdates()) {
        record("no check");
        return 4;
    }
    const int status = app.exec();
    record("exit " + std::to_string(status));
    UpdateChecker::resetForTesting();
    telvo::dispatch::MainLoop::setWakeHandler(nullptr);
    return status;
}
