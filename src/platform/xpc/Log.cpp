// The stand-in's log hook.
#include "platform/xpc/Log.h"

#include <cstdio>
#include <mutex>

namespace telvo::xpc {

namespace {
std::mutex gLogMutex;
std::function<void(const std::string&)> gLogHandler;
}  // namespace

void setLogHandler(std::function<void(const std::string& line)> handler) {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLogHandler = std::move(handler);
}

void log(const std::string& line) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(gLogMutex);
        handler = gLogHandler;
    }
    if (handler)
        handler(line);
    else
        std::fprintf(stderr, "xpc: %s\n", line.c_str());
}

}  // namespace telvo::xpc
