#pragma once
// The system log: lines the programs send to syslog (user facility, notice level, the program's
// name and pid), copied to standard error so that a program run by hand or under a supervisor
// shows them too. Tests catch the lines with a capture hook in place of syslog.
#include <functional>
#include <string>
#include <string_view>
#include "platform/values/Format.h"

namespace telvo::systemlog {

void write(const std::string& line);
// Null restores syslog.
void setCaptureForTesting(std::function<void(const std::string& line)> capture);

}  // namespace telvo::systemlog

namespace telvo {

template <class... Args>
void SystemLog(std::string_view fmt, const Args&... args) {
    systemlog::write(format(fmt, args...));
}

}  // namespace telvo
