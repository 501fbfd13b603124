#pragma once
// The processes a "kill" step stops: those whose program (/proc/<pid>/exe) has that base
// name, " (deleted)" removed (a program replaced while it runs). Under a file-system root other
// than "/", only programs inside that root match. This process never matches.
#include <sys/types.h>
#include <string>
#include <vector>

namespace telvo::helper {

std::vector<pid_t> processesNamed(const std::string& name);

}  // namespace telvo::helper
