#pragma once
// The test backend. A root-owned policy file under the file-system root scripts what the user
// answers when asked for each right; every question is counted in a file, and an allowed
// right is kept for its process for five minutes (virtual clock), as auth_admin_keep keeps it.
// It starts the trampoline directly, so only root runs tools through it; a user's process
// asks the system launchd instance for its rights ("authorize"), which answers on the root side.
//
// Policy lines: "<right> allow|deny|cancel" ("#" starts a comment). allow: the user
// authenticates; deny: the authentication fails; cancel: the user dismisses the dialog. A right
// with no line is denied without asking.
#include <string>
#include <vector>
#include "platform/authorization/Backend.h"

namespace telvo::authorization::scripted {

constexpr const char* kPolicyPath = "/etc/telvo/authorization/scripted.policy";
constexpr const char* kStateFolder = "/var/run/telvo/authorization";
// One line per question: "<right> <answer> <pid>".
constexpr const char* kPromptsPath = "/var/run/telvo/authorization/prompts";
// Kept rights: "<right> <pid> <start time> <uid> <until>".
constexpr const char* kKeptPath = "/var/run/telvo/authorization/kept";
constexpr double kKeepSeconds = 300;

// True when the policy file is a regular file (not a link) owned by root, writable by nobody
// else, in a folder owned by root that nobody else may write to.
bool isSelected();
// The rights the user was asked for, oldest first.
std::vector<std::string> prompts();

class ScriptedBackend : public Backend {
public:
    OSStatus obtain(const Subject& subject, const std::string& right, bool interactionAllowed, bool self) override;
    std::vector<std::string> launcherPrefix() const override;
    OSStatus launcherFailure(int waitStatus) const override;
};

}  // namespace telvo::authorization::scripted
