#pragma once
// Who this process is: the bundle identifier the components take their application name and
// preference domains from. A program sets its identifier at start; otherwise it is the program
// name (the last component of /proc/self/exe, or argv[0]).
#include <string>

namespace telvo::platform {

class ProcessIdentity {
public:
    static std::string bundleIdentifier();
    static void setBundleIdentifier(const std::string& identifier);
    // The program's file name.
    static std::string programName();
    // The host name, as gethostname answers.
    static std::string hostName();
    static void resetForTesting();
};

}  // namespace telvo::platform
