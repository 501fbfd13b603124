#pragma once
// The tools the installation steps run, by the names their lines give them ("/bin/launchctl",
// "/bin/sh"), and the program that stands for each on this system. Nothing outside this table
// is ever run: the file steps (touch, rm, mkdir, chown, chmod, cp, mv) are done through
// descriptors (FileTree) and only logged under their tools' names.
#include <string>

namespace telvo::helper {

// The host program for a tool name; empty when the name is not in the table.
std::string hostTool(const std::string& name);
// The owner text "root" of the steps: the logical line says "root:wheel", this system has no
// "wheel" group.
constexpr const char* kRootOwnerLine = "root:wheel";
constexpr const char* kRootOwnerHost = "root:root";
// Tests point a tool at another program; an empty host restores the table.
void setToolForTesting(const std::string& name, const std::string& host);

}  // namespace telvo::helper
