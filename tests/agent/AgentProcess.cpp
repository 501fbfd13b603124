#include "AgentProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "HttpsTestServer.h"

extern char** environ;

namespace telvo::agent::test {

AgentProcess::AgentProcess(const std::string& program, const std::string& root,
                           const std::vector<std::pair<std::string, std::string>>& environment)
    : log_(root + "/agent.log") {
    // Host paths: the test may have pointed the file-system root at `root` already.
    ::mkdir((root + "/home").c_str(), 0700);
    ::mkdir((root + "/tmp").c_str(), 0700);
    std::vector<std::pair<std::string, std::string>> set = {
        {"TELVO_ROOT", root}, {"HOME", root + "/home"}, {"TMPDIR", root + "/tmp"}};
    set.insert(set.end(), environment.begin(), environment.end());
    // Everything the child needs is made here: the parent has threads, the child may only exec.
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = name == "DBUS_SESSION_BUS_ADDRESS";
        for (const auto& [key, value] : set) replaced = replaced || name == key;
        if (!replaced) entries.push_back(entry);
    }
    for (const auto& [key, value] : set) entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    char* const argv[] = {const_cast<char*>("TelvoServerAgent"), nullptr};
    const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execve(program.c_str(), argv, envp.data());
        ::_exit(127);
    }
    ::close(fd);
}

AgentProcess::~AgentProcess() { stop(); }

std::string AgentProcess::log() const { return update::test::readText(log_); }

int AgentProcess::stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

}  // namespace telvo::agent::test
