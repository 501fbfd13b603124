#include "platform/bundle/MainBundle.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>
#include <optional>

#include "platform/values/PropertyList.h"

namespace telvo::bundle {
namespace {

std::mutex gMutex;
std::optional<std::string> gPath;
std::optional<Value> gInfo;

std::string executablePath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, size_t(n));
}

std::string pathLocked() {
    if (!gPath) gPath = MainBundle::bundleOfExecutable(executablePath());
    return *gPath;
}

}  // namespace

std::string MainBundle::bundleOfExecutable(const std::string& executable) {
    const std::string marker = ".app/Contents/MacOS/";
    size_t at = executable.rfind(marker);
    if (at == std::string::npos) return {};
    if (executable.find('/', at + marker.size()) != std::string::npos) return {};
    return executable.substr(0, at + 4);
}

std::string MainBundle::path() {
    std::lock_guard lock(gMutex);
    return pathLocked();
}

const Value& MainBundle::infoDictionary() {
    std::lock_guard lock(gMutex);
    if (!gInfo) {
        const std::string folder = pathLocked();
        gInfo = folder.empty() ? Value() : plist::readFile(folder + "/Contents/Info.plist");
        if (!gInfo->isDictionary()) gInfo = Value();
    }
    return *gInfo;
}

std::string MainBundle::processName() {
    return program_invocation_short_name ? program_invocation_short_name : "";
}

void MainBundle::setPathForTesting(const std::string& path) {
    std::lock_guard lock(gMutex);
    gPath = path;
    gInfo.reset();
}

void MainBundle::resetForTesting() {
    std::lock_guard lock(gMutex);
    gPath.reset();
    gInfo.reset();
}

}  // namespace telvo::bundle
