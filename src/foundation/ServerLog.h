#pragma once
// The daemon's plain log lines: one time-stamped line per call on standard output, which the
// daemon's entry reopens on "/Library/Logs/TelvoServer.log" (rolled by DaemonLogFile past its
// size limit). No levels and no filter here.
//
//   "YYYY-MM-dd HH:mm:ss.SSS: message\n"
//
// The year is the week-based year (ISO 8601 weeks: Monday first, the first week holds at least
// four days of January), so it differs from the calendar year in the few days around New Year
// that belong to a week of the other year. Digits are always ASCII, whatever the locale.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/values/Format.h"

namespace telvo {

// The time stamp of a moment (seconds since 1970) in the local time zone.
std::string daemonLogTimestamp(double secondsSince1970);
// Writes "<time stamp of now>: <message>\n" in one write and flushes. Failures are ignored.
void writeDaemonLogLine(std::string_view message);

// Where the lines go: standard output unless a test or tool points them elsewhere; nullptr
// restores standard output. The stream is not owned.
void setDaemonLogStream(FILE* stream);

// printf conversions plus "%@"; only the format is interpreted, never an argument.
template <class... Args>
void ServerLog(std::string_view fmt, const Args&... args) {
    writeDaemonLogLine(format(fmt, args...));
}
template <class... Args>
void DLog(std::string_view fmt, const Args&... args) {
    writeDaemonLogLine(format(fmt, args...));
}
template <class... Args>
void FMDBLog(std::string_view fmt, const Args&... args) {
    writeDaemonLogLine(format(fmt, args...));
}

}  // namespace telvo
