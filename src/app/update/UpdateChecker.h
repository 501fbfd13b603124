#pragma once
// The control application's update checker: the update engine with its three windows
// (checking and installing, downloading, update offer). This is a stand-in until the windows
// land: the engine's settings are kept, no window is made and a check asks nothing.
#include <QWidget>

#include "update/UpdateCheckerCore.h"

namespace telvo::app {

class UpdateChecker : public update::UpdateCheckerCore {
public:
    static UpdateChecker* sharedUpdateChecker();
    static void resetForTesting();

    bool checkForUpdates() override;

    QWidget* installWindow = nullptr;
    QWidget* downloadingWindow = nullptr;
    QWidget* updateWindow = nullptr;

private:
    UpdateChecker();
};

}  // namespace telvo::app
