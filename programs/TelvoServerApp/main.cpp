// Telvo Server: the desktop control application. It shows the daemon's clients, its state and
// versions, and (through its panels) changes the daemon's settings.
#include "app/LeakSuppressions.h"
#include "app/delegate/Startup.h"
#include "platform/codesign/ProtectSelf.h"

// Qt's and fontconfig's own process-lifetime allocations are not ours to report.
extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

int main(int argc, char** argv) {
    // A signed program protects itself before anything else.
    telvo::codesign::protectSelf();
    return telvo::app::runApplication(argc, argv);
}
