// syslog with standard error beside it, or the test's capture.
#include "platform/systemlog/SystemLog.h"

#include <syslog.h>
#include <mutex>

namespace telvo::systemlog {

namespace {
std::mutex gMutex;
std::function<void(const std::string&)> gCapture;
std::once_flag gOpened;
}  // namespace

void write(const std::string& line) {
    std::function<void(const std::string&)> capture;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        capture = gCapture;
    }
    if (capture) {
        capture(line);
        return;
    }
    // The identity is the program's name (openlog's default); LOG_PERROR copies each line to
    // standard error.
    std::call_once(gOpened, [] { openlog(nullptr, LOG_PID | LOG_PERROR, LOG_USER); });
    ::syslog(LOG_NOTICE, "%s", line.c_str());
}

void setCaptureForTesting(std::function<void(const std::string& line)> capture) {
    std::lock_guard<std::mutex> lock(gMutex);
    gCapture = std::move(capture);
}

}  // namespace telvo::systemlog
