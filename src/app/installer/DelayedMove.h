#pragma once
// Moves (or copies) a folder to a new name some seconds later from a detached child, so that
// the move happens after this process ended: no shell, the paths go to mv or cp as arguments,
// and a name taken meanwhile is never replaced.
#include <string>

namespace telvo::app {

// Host paths. False when the child could not be made.
bool moveLater(const std::string& from, const std::string& to, bool copy, double delaySeconds);

}  // namespace telvo::app
