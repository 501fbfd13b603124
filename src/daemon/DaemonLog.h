#pragma once
// The daemon's own log lines (start-up, sessions, listener, DNS-SD): DLog and ServerLog format
// their message and hand it to the daemon log. Tests capture the lines through
// setSinkForTesting.
#include <functional>
#include <string>
#include "platform/values/Format.h"

namespace telvo::daemonlog {

// Writes one formatted message as a daemon log line.
void write(const std::string& message);
// A sink that receives every message instead of the log; an empty function restores it.
void setSinkForTesting(std::function<void(const std::string&)> sink);

}  // namespace telvo::daemonlog

namespace telvo {

template <class... Args>
void DLog(std::string_view fmt, const Args&... args) {
    daemonlog::write(format(fmt, args...));
}

template <class... Args>
void ServerLog(std::string_view fmt, const Args&... args) {
    daemonlog::write(format(fmt, args...));
}

}  // namespace telvo
