#pragma once
// A bundle folder on disk ("<name>.<ext>/Contents/Info.plist", "MacOS/<executable>",
// "Resources/"): its information dictionary and the paths of its executable and resources.
// Paths are logical (resolved under the file-system root). The Info list is read without
// following a link, as a regular file of at most 1 MiB.
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::bundle {

class Bundle {
public:
    // Null error and a bundle whose info() is a dictionary, or the error.
    static Bundle withPath(const std::string& path, ErrorPtr* error);

    const std::string& path() const { return path_; }
    const Value& info() const { return info_; }
    std::string identifier() const { return info_["CFBundleIdentifier"].string(); }
    // "Contents/MacOS/<CFBundleExecutable>"; empty when the key is missing or no plain name.
    std::string executablePath() const;
    // "Contents/Resources/<name>" (the resource is not looked for).
    std::string resourcePath(const std::string& name) const { return path_ + "/Contents/Resources/" + name; }

private:
    std::string path_;
    Value info_;
};

}  // namespace telvo::bundle
