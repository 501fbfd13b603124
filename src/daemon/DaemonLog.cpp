#include "daemon/DaemonLog.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace telvo::daemonlog {

namespace {
std::mutex gSinkMutex;
std::function<void(const std::string&)> gSink;
}  // namespace

void setSinkForTesting(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(gSinkMutex);
    gSink = std::move(sink);
}

void write(const std::string& message) {
    {
        std::lock_guard lock(gSinkMutex);
        if (gSink) {
            gSink(message);
            return;
        }
    }
    // "YYYY-MM-dd HH:mm:ss.SSS: message", the week-based year, local time.
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char stamp[64];
    size_t n = strftime(stamp, sizeof stamp, "%G-%m-%d %H:%M:%S", &local);
    snprintf(stamp + n, sizeof stamp - n, ".%03ld", long(tv.tv_usec / 1000));
    fprintf(stdout, "%s: %s\n", stamp, message.c_str());
    fflush(stdout);
}

}  // namespace telvo::daemonlog
