#pragma once
// The job-blessing service for programs: bless an application's privileged helper into the
// system instance, read a loaded job's dictionary, remove a job. Each is one request to the
// system instance's control socket, which decides on the root side (Blessing.h): the
// authorization reference only tells that the caller asked for the right first.
#include <string>
#include "platform/Error.h"
#include "platform/authorization/Authorization.h"
#include "platform/values/Value.h"

namespace telvo::launchd {

// The one domain there is: the system instance.
constexpr const char* kSMDomainSystemLaunchd = "kSMDomainSystemLaunchd";

// Installs "<this program's bundle>/Contents/Library/LaunchServices/<label>" as the helper of
// that label, replacing a job loaded under it, and loads it. False with the refusal.
bool SMJobBless(const std::string& domain, const std::string& label, authorization::AuthorizationRef auth,
                ErrorPtr* error);

// The loaded job's dictionary ("Label", "ProgramArguments", "MachServices", ...); null when no
// job has that label or the instance cannot be reached.
Value SMJobCopyDictionary(const std::string& domain, const std::string& label);

// Unloads the job and deletes its job file (waiting for its process to end). False with why.
bool SMJobRemove(const std::string& domain, const std::string& label, authorization::AuthorizationRef auth, bool wait,
                 ErrorPtr* error);

// The instance asked for a right on the caller's behalf ("authorize"): the status.
authorization::OSStatus askSystemInstanceForRight(const std::string& right, bool interactionAllowed);

}  // namespace telvo::launchd
