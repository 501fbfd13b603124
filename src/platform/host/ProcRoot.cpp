// The root folder of the kernel's statistics files.
#include "platform/host/ProcRoot.h"

#include <mutex>

namespace telvo::host {

namespace {
std::mutex& rootMutex() {
    static std::mutex m;
    return m;
}
std::string& rootFolder() {
    static std::string r;  // empty: the machine's own "/"
    return r;
}
}  // namespace

std::string ProcRoot::path(const std::string& kernelPath) {
    std::lock_guard<std::mutex> lock(rootMutex());
    return rootFolder() + kernelPath;
}

std::string ProcRoot::root() {
    std::lock_guard<std::mutex> lock(rootMutex());
    return rootFolder().empty() ? std::string("/") : rootFolder();
}

void ProcRoot::setForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(rootMutex());
    std::string f = folder;
    while (!f.empty() && f.back() == '/') f.pop_back();
    rootFolder() = f;
}

void ProcRoot::resetForTesting() { setForTesting(std::string()); }

}  // namespace telvo::host
