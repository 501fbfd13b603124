// The scripted backend's files.
#include "platform/authorization/ScriptedBackend.h"

#include "platform/launchd/ServiceManagement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "platform/xpc/RunFolder.h"

namespace telvo::authorization::scripted {

namespace {

bool rootOwnedAndClosed(const std::string& hostPath, bool folder) {
    struct stat st{};
    if (lstat(hostPath.c_str(), &st) != 0) return false;
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) return false;
    return st.st_uid == 0 && (st.st_mode & 022) == 0;
}

// The scripted answer for a right; empty when the policy has none.
std::string answerFor(const std::string& right) {
    std::ifstream in(fs::resolve(kPolicyPath));
    std::string line, answer;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string name, value, extra;
        if (!(words >> name >> value) || (words >> extra)) continue;
        if (name == right && (value == "allow" || value == "deny" || value == "cancel")) answer = value;
    }
    return answer;
}

struct Kept {
    std::string right;
    long long pid = 0;
    unsigned long long startTime = 0;
    long long uid = 0;
    double until = 0;
};

std::vector<Kept> loadKept() {
    std::vector<Kept> kept;
    std::ifstream in(fs::resolve(kKeptPath));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Kept k;
        if (words >> k.right >> k.pid >> k.startTime >> k.uid >> k.until) kept.push_back(k);
    }
    return kept;
}

bool saveKept(const std::vector<Kept>& kept) {
    std::ostringstream out;
    out.precision(17);
    for (const auto& k : kept)
        out << k.right << ' ' << k.pid << ' ' << k.startTime << ' ' << k.uid << ' ' << k.until << '\n';
    return fs::writeFileAtomically(kKeptPath, out.str(), 0644);
}

bool appendPrompt(const std::string& right, const std::string& answer, pid_t pid) {
    int fd = open(fs::resolve(kPromptsPath).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    std::string line = right + " " + answer + " " + std::to_string(pid) + "\n";
    bool ok = write(fd, line.data(), line.size()) == ssize_t(line.size());
    close(fd);
    return ok;
}

// Serialises the read-modify-write of the kept file between processes.
class StateLock {
public:
    StateLock() {
        fd_ = open(fs::resolve(std::string(kStateFolder) + "/lock").c_str(),
                   O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~StateLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace

bool isSelected() {
    std::string policy = fs::resolve(kPolicyPath);
    std::string folder = policy.substr(0, policy.find_last_of('/'));
    return rootOwnedAndClosed(policy, false) && rootOwnedAndClosed(folder, true);
}

std::vector<std::string> prompts() {
    std::vector<std::string> rights;
    std::ifstream in(fs::resolve(kPromptsPath));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string right;
        if (words >> right) rights.push_back(right);
    }
    return rights;
}

OSStatus ScriptedBackend::obtain(const Subject& subject, const std::string& right, bool interactionAllowed, bool self) {
    if (geteuid() != 0) {
        // A user's process asks the system instance, which asks about it (pinned at its
        // connect) on the root side and keeps the answer for that process.
        if (self) return launchd::askSystemInstanceForRight(right, interactionAllowed);
        std::fprintf(stderr, "authorization: the scripted backend answers for other processes only as root\n");
        return errAuthorizationInternal;
    }
    if (ErrorPtr error = xpc::prepareRunFolder(kStateFolder, 0755)) {
        std::fprintf(stderr, "authorization: %s\n", error->description().c_str());
        return errAuthorizationInternal;
    }
    StateLock lock;
    if (!lock.held()) return errAuthorizationInternal;

    double now = platform::Clock::now();
    std::vector<Kept> kept = loadKept(), current;
    bool held = false;
    for (const auto& k : kept) {
        if (k.until <= now) continue;
        current.push_back(k);
        if (k.right == right && k.pid == subject.pid && k.startTime == subject.startTime &&
            k.uid == static_cast<long long>(subject.uid))
            held = true;
    }
    if (held) return errAuthorizationSuccess;

    std::string answer = answerFor(right);
    if (answer.empty()) return errAuthorizationDenied;
    if (!interactionAllowed) return errAuthorizationInteractionNotAllowed;
    if (!appendPrompt(right, answer, subject.pid)) return errAuthorizationInternal;
    if (answer == "deny") return errAuthorizationDenied;
    if (answer == "cancel") return errAuthorizationCanceled;
    current.push_back({right, subject.pid, subject.startTime, static_cast<long long>(subject.uid), now + kKeepSeconds});
    return saveKept(current) ? errAuthorizationSuccess : errAuthorizationInternal;
}

std::vector<std::string> ScriptedBackend::launcherPrefix() const { return {}; }

OSStatus ScriptedBackend::launcherFailure(int) const { return errAuthorizationToolExecuteFailure; }

}  // namespace telvo::authorization::scripted
