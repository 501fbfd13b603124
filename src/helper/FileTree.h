#pragma once
// Host-path file-tree checks of the installation steps, never following a symbolic link:
// whether two trees are alike (types, file contents, link targets), and what a path is.
#include <string>

namespace telvo::helper {

// lstat of the host path: true when something (a link included) is there.
bool hostExists(const std::string& hostPath);
bool hostIsSymlink(const std::string& hostPath);
// The same types, names, file contents and link targets, walked without following links.
bool sameTree(const std::string& hostA, const std::string& hostB);

}  // namespace telvo::helper
