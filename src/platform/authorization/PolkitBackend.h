#pragma once
// The desktop backend: polkit answers through pkcheck, and pkexec starts the trampoline as
// root after polkit authorised the calling process for our action.
#include "platform/authorization/Backend.h"

namespace telvo::authorization {

// Our polkit action for a right, empty for a right we do not know.
std::string polkitActionFor(const std::string& right);

class PolkitBackend : public Backend {
public:
    OSStatus obtain(const Subject& subject, const std::string& right, bool interactionAllowed, bool self) override;
    std::vector<std::string> launcherPrefix() const override;
    // pkexec: 126 the dialog was dismissed, anything else not authorised.
    OSStatus launcherFailure(int waitStatus) const override;
};

constexpr const char* kPkcheckPath = "/usr/bin/pkcheck";
constexpr const char* kPkexecPath = "/usr/bin/pkexec";
constexpr const char* kPkactionPath = "/usr/bin/pkaction";

}  // namespace telvo::authorization
