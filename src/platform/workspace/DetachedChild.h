#pragma once
// Runs a program by argument vector from a detached child, optionally some seconds later: a
// grandchild in its own session, reparented away from this process (no zombie is left), with
// its standard streams on /dev/null and no descriptor of this process but those three.
#include <string>
#include <vector>

#include "platform/Error.h"

namespace telvo::workspace {

// argv[0] is the program's path (no search, no shell). Without a delay, answers whether the
// exec succeeded; with one, whether the child was made (the exec comes after the delay). False
// with *error otherwise.
bool spawnDetached(const std::vector<std::string>& argv, double delaySeconds, ErrorPtr* error = nullptr);

}  // namespace telvo::workspace
