#pragma once
// The port mapper's lines for the system log (standard error of the daemon, whose standard
// output is its own log file). Tests catch the lines with a handler.
#include <functional>
#include <string>
#include <string_view>
#include "platform/values/Format.h"

namespace telvo {

void writePortMapperLogLine(const std::string& line);
// Null restores standard error.
void setPortMapperLogHandlerForTesting(std::function<void(const std::string&)> handler);

template <class... Args>
void PortMapperLog(std::string_view fmt, const Args&... args) {
    writePortMapperLogLine(format(fmt, args...));
}

}  // namespace telvo
