#pragma once
// The authorization stand-in's backends: who asks (a process, pinned by its start time), how
// one right is obtained for it, and how the trampoline is started with root rights.
#include <sys/types.h>
#include <memory>
#include <string>
#include <vector>
#include "platform/authorization/Authorization.h"

namespace telvo::authorization {

// A process as polkit names it: pid, start time (clock ticks after boot, /proc/<pid>/stat)
// and user. The start time tells a process from a later one that got its pid.
struct Subject {
    pid_t pid = -1;
    unsigned long long startTime = 0;
    uid_t uid = uid_t(-1);
};

// False when the process is gone (or its start time cannot be read).
bool subjectFor(pid_t pid, uid_t uid, Subject& out);
// This process (effective user, as SO_PEERCRED would report it).
bool selfSubject(Subject& out);

class Backend {
public:
    virtual ~Backend() = default;
    // Obtains `right` for `subject`: success, denied, cancelled, interaction not allowed or
    // internal. `self` is true when the subject is this process (it may ask on its terminal).
    virtual OSStatus obtain(const Subject& subject, const std::string& right, bool interactionAllowed, bool self) = 0;
    // What runs the trampoline with root rights: the arguments that go before it.
    virtual std::vector<std::string> launcherPrefix() const = 0;
    // The status for a launcher that ended without reaching the trampoline.
    virtual OSStatus launcherFailure(int waitStatus) const = 0;
};

// The two rights of Authorization.h; any other is denied before a backend is asked.
bool isKnownRight(const std::string& right);

// The backend in use for this request (scripted when its root-owned policy file is there).
std::unique_ptr<Backend> selectBackend();

// The trampoline's path (kTrampolinePath unless a test set another).
std::string trampolinePath();

}  // namespace telvo::authorization
