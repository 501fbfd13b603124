#pragma once
// Where the kernel's statistics files live: "/proc" and "/sys" under a root folder that is
// "/" in the daemon and a fixture tree in tests. Every host statistics reader builds its
// paths through ProcRoot::path, so a test can hand the collectors a whole machine of its own.
#include <string>

namespace telvo::host {

class ProcRoot {
public:
    // The host path of a kernel path such as "/proc/stat" (the root put in front of it).
    static std::string path(const std::string& kernelPath);
    // The root folder in use ("/" unless a test set another).
    static std::string root();
    // Tests point the root at a fixture tree; set it before the readers run.
    static void setForTesting(const std::string& folder);
    // Back to the machine's own "/".
    static void resetForTesting();
};

}  // namespace telvo::host
