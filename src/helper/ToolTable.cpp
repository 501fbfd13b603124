#include "helper/ToolTable.h"

#include <unistd.h>
#include <map>
#include <mutex>

namespace telvo::helper {

namespace {

std::mutex& overridesMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::string>& overrides() {
    static std::map<std::string, std::string> m;
    return m;
}

std::string launchctlProgram() {
    if (::access(TELVO_INSTALLED_LAUNCHCTL, X_OK) == 0) return TELVO_INSTALLED_LAUNCHCTL;
    return TELVO_BUILD_LAUNCHCTL;
}

}  // namespace

std::string hostTool(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(overridesMutex());
        auto it = overrides().find(name);
        if (it != overrides().end()) return it->second;
    }
    static const std::map<std::string, std::string> table{
        {"/bin/sh", "/bin/sh"},
    };
    if (name == "/bin/launchctl") return launchctlProgram();
    auto it = table.find(name);
    return it == table.end() ? std::string() : it->second;
}

void setToolForTesting(const std::string& name, const std::string& host) {
    std::lock_guard<std::mutex> lock(overridesMutex());
    if (host.empty()) overrides().erase(name);
    else overrides()[name] = host;
}

}  // namespace telvo::helper
