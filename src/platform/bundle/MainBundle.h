#pragma once
// The main bundle: the application bundle holding the running executable
// ("<name>.app/Contents/MacOS/<program>"), with its "Contents/Info.plist". A program that does
// not run from a bundle has none (empty path, empty info). Paths are host paths.
#include <string>

#include "platform/values/Value.h"

namespace telvo::bundle {

class MainBundle {
public:
    // The bundle's folder ("/Applications/Telvo Server.app"); empty when there is none.
    static std::string path();
    // Its Info.plist as a dictionary (null when there is none), read once.
    static const Value& infoDictionary();
    // The bundle holding an executable path, empty when the path is not inside one.
    static std::string bundleOfExecutable(const std::string& executable);
    // The running program's file name.
    static std::string processName();

    // Tests: another bundle folder stands for the main bundle (empty: none at all).
    static void setPathForTesting(const std::string& path);
    static void resetForTesting();
};

}  // namespace telvo::bundle
