// com.kestro.telvoserver.installerhelper: the privileged installer helper. Started as root by
// the job launcher when a client first connects to its service; reads no arguments. It admits
// only the maker's signed programs and runs their encrypted installation steps. SIGTERM ends
// it at once with status 0, whatever step runs.
#include <signal.h>
#include <unistd.h>
#include "helper/HelperController.h"
#include "helper/HelperService.h"
#include "platform/codesign/ProtectSelf.h"
#include "platform/process/ProcessIdentity.h"

using namespace telvo;

namespace {

void terminated(int) { _exit(0); }

}  // namespace

int main() {
    codesign::protectSelf();
    struct sigaction action {};
    action.sa_handler = terminated;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    // The log files are named after the bundle identifier.
    platform::ProcessIdentity::setBundleIdentifier(helper::HelperService::kLabel);
    helper::HelperController::sharedHelper().start();
}
