#pragma once
// The trampoline that pkexec starts as root: it replaces what pkexec left of the caller's
// environment with a fixed one, reports that it runs, and becomes the tool.
//   telvo-privileged-exec [--report-stdin] --root FOLDER -- TOOL [ARGUMENT...]
// With --report-stdin, standard input is a pipe to the caller: "R" once the trampoline runs,
// "E<errno>" when the tool cannot be started. The tool reads /dev/null.
#include <string>
#include <vector>

namespace telvo::authorization {

// The tool's environment: PATH, HOME, USER, LOGNAME (of the effective user), SHELL, LANG,
// TELVO_ROOT, and PKEXEC_UID when `pkexecUid` is a number.
std::vector<std::string> trampolineEnvironment(const std::string& root, const char* pkexecUid);

// The program's main; answers only when the tool could not be started (127).
int trampolineMain(int argc, char** argv);

}  // namespace telvo::authorization
