// The process's bundle identifier, program name and host name.
#include "platform/process/ProcessIdentity.h"

#include <cerrno>  // program_invocation_short_name
#include <climits>
#include <mutex>
#include <unistd.h>


namespace telvo::platform {

namespace {

std::mutex& identityMutex() {
    static std::mutex m;
    return m;
}

std::string& configuredIdentifier() {
    static std::string identifier;
    return identifier;
}

}  // namespace

std::string ProcessIdentity::bundleIdentifier() {
    {
        std::lock_guard<std::mutex> lock(identityMutex());
        if (!configuredIdentifier().empty()) return configuredIdentifier();
    }
    return programName();
}

void ProcessIdentity::setBundleIdentifier(const std::string& identifier) {
    std::lock_guard<std::mutex> lock(identityMutex());
    configuredIdentifier() = identifier;
}

std::string ProcessIdentity::programName() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        std::string path(buffer, size_t(n));
        // A replaced or removed executable shows as "<path> (deleted)".
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
            path.resize(path.size() - deleted.size());
        }
        size_t slash = path.rfind('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!name.empty()) return name;
    }
    if (program_invocation_short_name && *program_invocation_short_name) return program_invocation_short_name;
    return "unknown";
}

std::string ProcessIdentity::hostName() {
    char buffer[HOST_NAME_MAX + 2] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
    return buffer;
}

void ProcessIdentity::resetForTesting() {
    std::lock_guard<std::mutex> lock(identityMutex());
    configuredIdentifier().clear();
}

}  // namespace telvo::platform
