// References, rights and the privileged tool run.
#include "platform/authorization/Authorization.h"

#include <unistd.h>
#include <cstdlib>
#include <mutex>
#include <set>
#include <unordered_set>
#include "platform/authorization/Backend.h"
#include "platform/authorization/ChildProcess.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"

namespace telvo::authorization {

struct Authorization {
    std::set<std::string> rights;
};

namespace {

constexpr AuthorizationFlags kKnownFlags =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;

// Live references, so that a freed or foreign pointer is answered, not followed.
std::mutex gLiveMutex;
std::unordered_set<Authorization*> gLive;

bool isLive(Authorization* authorization) {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    return authorization && gLive.count(authorization) != 0;
}

bool heldRights(Authorization* authorization, std::set<std::string>& out) {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    if (!authorization || gLive.count(authorization) == 0) return false;
    out = authorization->rights;
    return true;
}

bool addRights(Authorization* authorization, const std::set<std::string>& rights) {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    if (!authorization || gLive.count(authorization) == 0) return false;
    authorization->rights.insert(rights.begin(), rights.end());
    return true;
}

}  // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* rights, AuthorizationFlags flags, AuthorizationRef* out) {
    if (out) *out = nullptr;
    if ((flags & ~kKnownFlags) != 0) return errAuthorizationInvalidFlags;
    auto* authorization = new Authorization;
    {
        std::lock_guard<std::mutex> lock(gLiveMutex);
        gLive.insert(authorization);
    }
    if (rights && !rights->empty()) {
        OSStatus status = AuthorizationCopyRights(authorization, *rights, flags);
        if (status != errAuthorizationSuccess) {
            AuthorizationFree(authorization, kAuthorizationFlagDefaults);
            return status;
        }
    }
    if (out)
        *out = authorization;
    else
        AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights& rights,
                                 AuthorizationFlags flags) {
    std::set<std::string> held;
    if (!heldRights(authorization, held)) return errAuthorizationInvalidRef;
    if ((flags & ~kKnownFlags) != 0) return errAuthorizationInvalidFlags;
    std::set<std::string> granted;
    std::unique_ptr<Backend> backend;
    Subject self;
    for (const auto& right : rights) {
        if (held.count(right) || granted.count(right)) continue;
        if (!(flags & kAuthorizationFlagExtendRights) || !isKnownRight(right)) return errAuthorizationDenied;
        if (!backend) {
            if (!selfSubject(self)) return errAuthorizationInternal;
            backend = selectBackend();
        }
        OSStatus status = backend->obtain(self, right, (flags & kAuthorizationFlagInteractionAllowed) != 0, true);
        if (status != errAuthorizationSuccess) return status;
        granted.insert(right);
    }
    return addRights(authorization, granted) ? errAuthorizationSuccess : errAuthorizationInvalidRef;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
    {
        std::lock_guard<std::mutex> lock(gLiveMutex);
        if (!authorization || gLive.erase(authorization) == 0) return errAuthorizationInvalidRef;
    }
    delete authorization;
    return flags == kAuthorizationFlagDefaults ? errAuthorizationSuccess : errAuthorizationInvalidFlags;
}

OSStatus AuthorizationExecuteWithPrivilegesAndWait(AuthorizationRef authorization, const std::string& tool,
                                                   const std::vector<std::string>& arguments, int* exitStatus) {
    if (exitStatus) *exitStatus = -1;
    if (!isLive(authorization)) return errAuthorizationInvalidRef;
    if (tool.empty() || tool[0] != '/') return errAuthorizationToolExecuteFailure;
    OSStatus status = AuthorizationCopyRights(authorization, {kAuthorizationRightExecute},
                                              kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights);
    if (status != errAuthorizationSuccess) return status;

    std::unique_ptr<Backend> backend = selectBackend();
    std::vector<std::string> argv = backend->launcherPrefix();
    // Without a launcher the trampoline runs as this process's user: only root stays root.
    if (argv.empty() && geteuid() != 0) return errAuthorizationToolExecuteFailure;
    std::string trampoline = trampolinePath();
    if (access(trampoline.c_str(), X_OK) != 0) return errAuthorizationToolExecuteFailure;
    argv.insert(argv.end(), {trampoline, "--report-stdin", "--root", fs::root(), "--", tool});
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    ChildRun run = runChild(argv, true, false);
    if (!run.started) return errAuthorizationToolExecuteFailure;
    // The trampoline writes "R" once it runs, and "E<errno>" when the tool cannot be started.
    if (run.report.empty()) return backend->launcherFailure(run.waitStatus);
    if (run.report != "R" || run.error != 0) return errAuthorizationToolExecuteFailure;
    if (exitStatus) *exitStatus = exitCodeOf(run.waitStatus);
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCheckCaller(const xpc::PeerCredentials& caller, const std::string& right,
                                  AuthorizationFlags flags) {
    if ((flags & ~kKnownFlags) != 0) return errAuthorizationInvalidFlags;
    auto refuse = [&](const char* when) {
        SystemLog("authorization: refused %@ to %@: the caller %@ %s", right, caller.description(),
                  caller.pidfd && caller.pidfd->valid() ? "has ended or changed" : "was gone or changed at its connect",
                  when);
        return errAuthorizationDenied;
    };
    if (!isKnownRight(right)) return errAuthorizationDenied;
    if (!caller.valid() || !caller.pidfd || !caller.pidfd->valid() || caller.pidfd->pid() != caller.pid)
        return refuse("before the check");
    if (!caller.alive()) return refuse("before the check");
    Subject subject;
    subject.pid = caller.pid;
    subject.startTime = caller.pidfd->startTime();
    subject.uid = caller.uid;
    OSStatus status = selectBackend()->obtain(subject, right, (flags & kAuthorizationFlagInteractionAllowed) != 0,
                                              caller.pid == getpid());
    // The answer took time (a dialog may have been up): it holds only for the same process.
    if (!caller.alive()) return refuse("before the answer came");
    return status;
}

OSStatus AuthorizationCheckCaller(pid_t pid, uid_t uid, const std::string& right, AuthorizationFlags flags) {
    if ((flags & ~kKnownFlags) != 0) return errAuthorizationInvalidFlags;
    xpc::PeerCredentials caller;
    caller.pid = pid;
    caller.uid = uid;
    caller.pidfd = xpc::PidFd::open(pid, xpc::PidFd::bootClockNow());
    if (!isKnownRight(right) || pid <= 0) return errAuthorizationDenied;
    return AuthorizationCheckCaller(caller, right, flags);
}

const char* statusMessage(OSStatus status) {
    switch (status) {
        case errAuthorizationSuccess: return "success";
        case errAuthorizationInvalidRef: return "invalid authorization reference";
        case errAuthorizationDenied: return "authorization denied";
        case errAuthorizationCanceled: return "authorization cancelled by the user";
        case errAuthorizationInteractionNotAllowed: return "user interaction not allowed";
        case errAuthorizationInternal: return "internal authorization error";
        case errAuthorizationInvalidFlags: return "invalid authorization flags";
        case errAuthorizationToolExecuteFailure: return "the tool could not be run";
        default: return "unknown authorization status";
    }
}

}  // namespace telvo::authorization
