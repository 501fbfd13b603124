// Downloads one update archive through the control application's update windows (the
// downloading window with its progress, then the install window), saves and unpacks it, as
// bench/update's telvo-update-fetch does with the engine alone.
// Usage: telvo-update-windows-fetch <https address> <CA file>. Prints the payload path; exits 1
// when any step failed.
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdio>

#include "app/LeakSuppressions.h"
#include "app/update/UpdateChecker.h"
#include "platform/dispatch/MainLoop.h"
#include "update/HttpTransfer.h"

extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

using namespace telvo;

namespace {
std::atomic<bool> gWakeQueued{false};
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <https address> <CA file>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QPointer<QApplication> target(&app);
    dispatch::MainLoop::setWakeHandler([target] {
        if (gWakeQueued.exchange(true) || !target) return;
        QMetaObject::invokeMethod(
            target.data(),
            [] {
                gWakeQueued = false;
                dispatch::MainLoop::runPending();
            },
            Qt::QueuedConnection);
    });
    update::setCAFile(argv[2]);
    app::UpdateChecker* checker = app::UpdateChecker::sharedUpdateChecker();
    checker->appName = "Telvo Server";
    checker->newVersion = 3.04f;
    checker->url = argv[1];
    checker->updateInfo = Value(ValueDictionary{});
    checker->updateInfo.set("url", checker->url);
    bool ok = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (checker->installWindow->isVisible()) {
            ok = true;
            app.quit();
        } else if (checker->alert() && checker->alert()->isVisible()) {
            app.quit();
        }
    });
    poll.start(5);
    checker->downloadUpdate();
    app.exec();
    std::string payload = ok ? checker->payloadPath() : std::string();
    app::UpdateChecker::resetForTesting();
    dispatch::MainLoop::setWakeHandler(nullptr);
    std::printf("%s\n", payload.c_str());
    return payload.empty() ? 1 : 0;
}
