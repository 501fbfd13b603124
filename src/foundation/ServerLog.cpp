#include "foundation/ServerLog.h"

#include <atomic>
#include <cmath>
#include <ctime>

#include "foundation/DaemonLogFile.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

std::atomic<FILE*> gStream{nullptr};

}  // namespace

std::string daemonLogTimestamp(double secondsSince1970) {
    const double totalMs = std::floor(secondsSince1970 * 1000.0);
    const double wholeSeconds = std::floor(totalMs / 1000.0);
    const int millis = int(totalMs - wholeSeconds * 1000.0);
    const time_t t = time_t(wholeSeconds);
    struct tm local {};
    if (!localtime_r(&t, &local)) return "0000-00-00 00:00:00.000";
    // "%G" is the ISO 8601 week-based year.
    char date[64];
    if (strftime(date, sizeof date, "%G-%m-%d %H:%M:%S", &local) == 0) return "0000-00-00 00:00:00.000";
    char stamp[80];
    snprintf(stamp, sizeof stamp, "%s.%03d", date, millis);
    return stamp;
}

void writeDaemonLogLine(std::string_view message) {
    std::string line = daemonLogTimestamp(platform::Clock::now());
    line += ": ";
    line += message;
    line += '\n';
    FILE* out = gStream.load();
    if (!out) out = stdout;
    // One write per entry: stdio serialises writers per call, so lines never interleave.
    (void)fwrite(line.data(), 1, line.size(), out);
    (void)fflush(out);
    DaemonLogFile::didWrite(out, line.size());
}

void setDaemonLogStream(FILE* stream) { gStream.store(stream); }

}  // namespace telvo
