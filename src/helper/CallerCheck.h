#pragma once
// The privileged helper's check of a connecting process: pinned at the accept, signed with a
// valid signature that chains to the maker's anchor (and so untraced, without preloaded code,
// not dumpable), its leaf certificate's common name "Developer ID Application: " followed by
// the maker's company, meeting one of the authorized-client requirements of the helper's Info
// list, and still the process that connected once all of that was checked.
#include <sys/types.h>
#include <string>
#include <vector>
#include "platform/xpc/PeerCredentials.h"

namespace telvo::helper {

struct CallerRules {
    // "Developer ID Application: <company>"
    std::string commonNamePrefix;
    // Requirement texts ("SMAuthorizedClients"); at least one must be met.
    std::vector<std::string> requirements;
};

// The maker's rules as built: the company and team are build settings.
CallerRules makerCallerRules();
// "SMAuthorizedClients" for a team: the requirements of the agent and of the application.
std::vector<std::string> authorizedClientRequirements(const std::string& team);

// The process to check: the one pinned at the accept.
pid_t callerPid(const xpc::PeerCredentials& peer);

// True admits; false with `why` for the system log.
bool checkCaller(const xpc::PeerCredentials& peer, const CallerRules& rules, std::string& why);

}  // namespace telvo::helper
