// pkcheck and pkexec.
#include "platform/authorization/PolkitBackend.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <mutex>
#include "platform/authorization/ChildProcess.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/time/Clock.h"

namespace telvo::authorization {

namespace {

// pkcheck's own agent fails outright (126) without a terminal to ask on.
bool hasControllingTerminal() {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// The bundle that holds this program ("<bundle>/Contents/MacOS/<name>"), as a host path.
std::string ownBundle() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, size_t(n));
    size_t name = path.find_last_of('/');
    if (name == std::string::npos) return {};
    path.erase(name);
    const std::string tail = "/Contents/MacOS";
    if (path.size() <= tail.size() || path.compare(path.size() - tail.size(), tail.size(), tail) != 0) return {};
    return path.substr(0, path.size() - tail.size());
}

bool actionKnown(const std::string& action) {
    ChildRun run = runChild({kPkactionPath, "--action-id", action}, false, true);
    return run.started && run.error == 0 && exitCodeOf(run.waitStatus) == 0;
}

// On a machine that never had the system our actions are missing: the bundle's trampoline is
// run once, through polkit's stock action, to put them (and itself) in place.
OSStatus placePolicyOnce() {
    static std::mutex mutex;
    static bool tried = false;
    static OSStatus outcome = errAuthorizationSuccess;
    std::lock_guard<std::mutex> lock(mutex);
    if (tried || access(kPolicyInstallPath, F_OK) == 0) return outcome;
    const std::string bundle = ownBundle();
    const std::string trampoline = bundle + "/Contents/Resources/" + kTrampolineFileName;
    const std::string policy = bundle + "/Contents/Resources/" + kPolicyFileName;
    if (bundle.empty() || access(trampoline.c_str(), X_OK) != 0 || access(policy.c_str(), R_OK) != 0) return outcome;
    tried = true;
    SystemLog("authorization: our polkit actions are missing; placing them with %@", trampoline);
    ChildRun run = runChild({kPkexecPath, trampoline, "--place-policy", policy}, false, false);
    if (!run.started || run.error != 0) {
        outcome = errAuthorizationInternal;
    } else if (int code = exitCodeOf(run.waitStatus); code != 0) {
        // pkexec: 126 the dialog was dismissed, 127 not authorised; the trampoline's own 1.
        outcome = code == 126 ? errAuthorizationCanceled : errAuthorizationDenied;
        SystemLog("authorization: the polkit actions were not placed (exit status %d)", code);
    } else {
        // polkitd reads the new file on its own; the answer holds once it knows our action.
        double deadline = platform::Clock::monotonic() + 20;
        while (!actionKnown("com.kestro.telvoserver.blesshelper") && platform::Clock::monotonic() < deadline)
            usleep(50 * 1000);
    }
    return outcome;
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
    if (self && geteuid() != 0) {
        OSStatus placed = placePolicyOnce();
        if (placed != errAuthorizationSuccess) return placed;
    }
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
