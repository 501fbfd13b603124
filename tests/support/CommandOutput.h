#pragma once
// A shell command's standard output, for tests that read what a script or a tool printed.
#include <cstdio>
#include <string>

namespace telvo::testing {

// Runs `command` with /bin/sh; its output, and in `status` its wait status (-1 when it could not
// be started).
inline std::string commandOutput(const std::string& command, int& status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = ::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    status = ::pclose(p);
    return out;
}

}  // namespace telvo::testing
