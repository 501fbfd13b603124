#pragma once
// Where the collector framework's log lines go (history loading for requests, missing
// insert keys): the daemon's log. Tests capture the lines through setSinkForTesting.
#include <functional>
#include <string>

namespace telvo::frameworklog {

void log(const std::string& line);
// A sink that receives every line instead of the daemon log; an empty function restores it.
void setSinkForTesting(std::function<void(const std::string&)> sink);

}  // namespace telvo::frameworklog
