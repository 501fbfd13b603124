#include "app/update/UpdateChecker.h"

namespace telvo::app {

namespace {
UpdateChecker* gShared = nullptr;
}

UpdateChecker::UpdateChecker() { update::UpdateCheckerCore::setSubclassPresent(true); }

UpdateChecker* UpdateChecker::sharedUpdateChecker() {
    if (!gShared) gShared = new UpdateChecker();
    return gShared;
}

void UpdateChecker::resetForTesting() {
    delete gShared;
    gShared = nullptr;
    update::UpdateCheckerCore::resetForTesting();
}

bool UpdateChecker::checkForUpdates() { return false; }

}  // namespace telvo::app
