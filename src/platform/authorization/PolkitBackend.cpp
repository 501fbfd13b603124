// pkcheck and pkexec.
#include "platform/authorization/PolkitBackend.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include "platform/authorization/ChildProcess.h"

namespace telvo::authorization {

namespace {

// pkcheck's own agent fails outright (126) without a terminal to ask on.
bool hasControllingTerminal() {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace

std::string polkitActionFor(const std::string& right) {
    if (right == kAuthorizationRightExecute) return "com.kestro.telvoserver.admin";
    if (right == kSMRightBlessPrivilegedHelper) return "com.kestro.telvoserver.blesshelper";
    return {};
}

OSStatus PolkitBackend::obtain(const Subject& subject, const std::string& right, bool interactionAllowed,
                               bool self) {
    std::string action = polkitActionFor(right);
    if (action.empty()) return errAuthorizationDenied;
    std::vector<std::string> argv = {kPkcheckPath, "--action-id", action, "--process",
                                     std::to_string(subject.pid) + "," + std::to_string(subject.startTime) + "," +
                                         std::to_string(subject.uid)};
    if (interactionAllowed) {
        argv.push_back("--allow-user-interaction");
        // Without an agent in the session, a process with a terminal is asked there.
        if (self && hasControllingTerminal()) argv.push_back("--enable-internal-agent");
    }
    ChildRun run = runChild(argv, false, true);
    if (!run.started || run.error != 0) {
        std::fprintf(stderr, "authorization: cannot run %s: %s\n", kPkcheckPath, std::strerror(run.error));
        return errAuthorizationInternal;
    }
    switch (exitCodeOf(run.waitStatus)) {
        case 0: return errAuthorizationSuccess;
        case 1: return errAuthorizationDenied;
        case 2: return errAuthorizationInteractionNotAllowed;  // needs a user, none may be asked
        case 3: return errAuthorizationCanceled;
        default: return errAuthorizationInternal;  // polkit unreachable, action not installed
    }
}

std::vector<std::string> PolkitBackend::launcherPrefix() const { return {kPkexecPath}; }

OSStatus PolkitBackend::launcherFailure(int waitStatus) const {
    return exitCodeOf(waitStatus) == 126 ? errAuthorizationCanceled : errAuthorizationDenied;
}

}  // namespace telvo::authorization
