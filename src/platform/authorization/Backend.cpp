// Subjects, the choice of backend and the trampoline's path.
#include "platform/authorization/Backend.h"

#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include "platform/authorization/PolkitBackend.h"
#include "platform/authorization/ScriptedBackend.h"

namespace telvo::authorization {

namespace {
std::mutex gTrampolineMutex;
std::string gTrampolineOverride;
}  // namespace

bool subjectFor(pid_t pid, uid_t uid, Subject& out) {
    if (pid <= 0) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!in || !std::getline(in, stat)) return false;
    // The command name may hold blanks and parentheses: fields start after the last ")".
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // Field 3 (state) is the first after the name; the start time is field 22.
    for (int index = 3; index <= 22; ++index) {
        if (!(fields >> field)) return false;
    }
    char* end = nullptr;
    unsigned long long start = std::strtoull(field.c_str(), &end, 10);
    if (!end || *end != '\0') return false;
    out.pid = pid;
    out.startTime = start;
    out.uid = uid;
    return true;
}

bool selfSubject(Subject& out) { return subjectFor(getpid(), geteuid(), out); }

bool isKnownRight(const std::string& right) {
    return right == kAuthorizationRightExecute || right == kSMRightBlessPrivilegedHelper;
}

std::unique_ptr<Backend> selectBackend() {
    if (scripted::isSelected()) return std::make_unique<scripted::ScriptedBackend>();
    return std::make_unique<PolkitBackend>();
}

std::string trampolinePath() {
    std::lock_guard<std::mutex> lock(gTrampolineMutex);
    return gTrampolineOverride.empty() ? std::string(kTrampolinePath) : gTrampolineOverride;
}

void setTrampolineForTesting(const std::string& path) {
    std::lock_guard<std::mutex> lock(gTrampolineMutex);
    gTrampolineOverride = path;
}

}  // namespace telvo::authorization
