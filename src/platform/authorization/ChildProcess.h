#pragma once
// Starting a helper program (pkcheck, pkexec, the trampoline) and waiting for exactly that
// child, with the child-ended signal at its default action meanwhile and restored afterwards.
#include <string>
#include <vector>

namespace telvo::authorization {

struct ChildRun {
    // True when the program could be started; else `error` is the errno. `error` is also set
    // when the child could not be waited for.
    bool started = false;
    int error = 0;
    // The raw status from waitpid.
    int waitStatus = 0;
    // What the child wrote to its standard input (a pipe) when `reportOnStdin` was asked.
    std::string report;
};

// `argv[0]` is an absolute path. The child gets an empty signal mask and default signal
// actions, no descriptors beyond 0-2, and standard input from /dev/null (or a pipe it may write
// its report to); `quiet` sends its standard output and error to /dev/null.
ChildRun runChild(const std::vector<std::string>& argv, bool reportOnStdin, bool quiet);

// Exit status, or 128 + the signal that ended the child.
int exitCodeOf(int waitStatus);

}  // namespace telvo::authorization
