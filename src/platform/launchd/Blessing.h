#pragma once
// The root side of job blessing: a privileged helper that an application carries in
// "Contents/Library/LaunchServices/<label>" is copied into "/Library/PrivilegedHelperTools"
// and given a job in "/Library/LaunchDaemons", once the caller holds the blessing right, is
// signed itself, and the copy proves to be the maker's helper of that label that admits the
// caller. Nothing of the caller's is trusted by name: the helper is read once through a
// descriptor into a root-owned file, and that copy is what is checked and installed.
#include <string>
#include "platform/Error.h"
#include "platform/xpc/PeerCredentials.h"

namespace telvo::launchd {

constexpr const char* kPrivilegedHelperFolder = "/Library/PrivilegedHelperTools";

// What a blessing installed: the helper's program and its job file (logical paths).
struct Blessed {
    std::string program;
    std::string jobFile;
};

// The authorization and signature checks of the caller, then the copy, its checks and the job
// file. Answers the refusal (domain "launchd") with nothing installed, or null.
ErrorPtr blessHelper(const xpc::PeerCredentials& caller, const std::string& label, Blessed& out);

// Whether a label may name a helper (a file name: no "/", not "." or "..", printable).
bool isHelperLabel(const std::string& label);

}  // namespace telvo::launchd
