#pragma once
// Files named by host paths (the main bundle, the user's home and temporary folders), which are
// not moved under the file-system root: the root's conveniences would resolve them a second
// time when the program runs from outside the root.
#include <string>

#include "platform/values/Value.h"

namespace telvo::update {

bool hostIsDirectory(const std::string& path);
// Makes the folder and the missing ones above it with `mode`; true when it is a folder now.
bool makeHostDirectories(const std::string& path, unsigned mode);
// A property list in a regular file of at most 1 MiB, not read through a link; null when not.
Value readHostPropertyList(const std::string& path);

}  // namespace telvo::update
