#pragma once
// The control application's start: what main() runs, and what the tests' harness runs on its
// own QApplication, so that both start the application the same way.
#include <memory>

class QApplication;

namespace telvo::app {

class TVSAppDelegate;

// On a made QApplication: lets Qt drive the main queue, tells the application's activity to
// the drawing layer and the delegate, quits with the last window, makes the delegate (which
// loads the main interface file) and runs its launch steps. The caller keeps the delegate for
// as long as the application runs. A panel that takes part in the start-up is made here and
// sets its hook (TVSAppDelegate::launchHooks) before the launch steps run.
std::unique_ptr<TVSAppDelegate> startApplication(QApplication& app);
// Undoes what startApplication() did to the process (the main queue's driver), after the
// delegate is gone.
void stopApplication();

// main(): the QApplication, startApplication(), the event loop; answers the exit status.
int runApplication(int argc, char** argv);

}  // namespace telvo::app
