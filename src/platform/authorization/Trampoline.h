#pragma once
// The trampoline that pkexec starts as root: it replaces what pkexec left of the caller's
// environment with a fixed one, reports that it runs, and becomes the tool.
//   telvo-privileged-exec [--report-stdin] --root FOLDER -- TOOL [ARGUMENT...]
//   telvo-privileged-exec --place-policy POLICY
// --place-policy (run once through pkexec on a machine without our policy) copies the policy
// file to kPolicyInstallPath (root, 0644) and this program to the path that the policy's
// "com.kestro.telvoserver.admin" action names (root, 0755, its folder made root 0755), each by
// descriptor, never through a link, and does nothing else.
// With --report-stdin, standard input is a pipe to the caller: "R" once the trampoline runs,
// "E<errno>" when the tool cannot be started. The tool reads /dev/null.
#include <string>
#include <vector>

namespace telvo::authorization {

// The tool's environment: PATH, HOME, USER, LOGNAME (of the effective user), SHELL, LANG,
// TELVO_ROOT, and PKEXEC_UID when `pkexecUid` is a number.
std::vector<std::string> trampolineEnvironment(const std::string& root, const char* pkexecUid);

// The trampoline's destination named by a policy file's text; empty when it names none that
// is an absolute path ending in "/telvo-privileged-exec" without "." or ".." components.
std::string trampolineDestination(const std::string& policyText);
// --place-policy: 0 when both are in place, else 1 with the reason on standard error.
int placePolicy(const std::string& policyFile);

// The program's main; answers only when the tool could not be started (127).
int trampolineMain(int argc, char** argv);

}  // namespace telvo::authorization
