// System-log lines of the port mapper.
#include "net/portmap/PortMapperLog.h"

#include <cstdio>
#include <mutex>

namespace telvo {

namespace {
std::mutex gMutex;
std::function<void(const std::string&)> gHandler;
}  // namespace

void writePortMapperLogLine(const std::string& line) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        handler = gHandler;
    }
    if (handler) {
        handler(line);
        return;
    }
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

void setPortMapperLogHandlerForTesting(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> lock(gMutex);
    gHandler = std::move(handler);
}

}  // namespace telvo
