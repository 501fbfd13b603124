#include "collectors/framework/FrameworkLog.h"

#include <mutex>

#include "foundation/ServerLog.h"

namespace telvo::frameworklog {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
std::function<void(const std::string&)>& sink() {
    static std::function<void(const std::string&)> s;
    return s;
}
}  // namespace

void log(const std::string& line) {
    std::function<void(const std::string&)> s;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        s = sink();
    }
    if (s) {
        s(line);
        return;
    }
    writeDaemonLogLine(line);
}

void setSinkForTesting(std::function<void(const std::string&)> s) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    sink() = std::move(s);
}

}  // namespace telvo::frameworklog
