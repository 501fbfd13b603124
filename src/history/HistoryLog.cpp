#include "history/HistoryLog.h"

#include <cstdio>
#include <mutex>

#include "foundation/logging/DDLog.h"

namespace telvo::history {

namespace {
std::mutex& hookMutex() {
    static std::mutex m;
    return m;
}
std::function<void(const std::string&)>& hook() {
    static std::function<void(const std::string&)> h;
    return h;
}
void toHook(const std::string& message) {
    std::lock_guard<std::mutex> lock(hookMutex());
    if (hook()) hook()(message);
}
}  // namespace

void historyLog(const std::string& message, const char* file, const char* function, int line) {
    toHook(message);
    DDLog::log(true, DDLogLevelAll, DDLogFlagInfo, 0, file, function, line,
               std::any(), "%@", message);
}

void consoleLog(const std::string& message) {
    toHook(message);
    std::fprintf(stderr, "%s\n", message.c_str());
}

void setLogHookForTesting(std::function<void(const std::string&)> h) {
    std::lock_guard<std::mutex> lock(hookMutex());
    hook() = std::move(h);
}

}  // namespace telvo::history
