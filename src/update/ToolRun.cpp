#include "update/ToolRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process/SpawnSignals.h"

extern char** environ;

namespace telvo::update {

int runTool(const std::vector<std::string>& argv, std::string* output, size_t outputLimit) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawnattr_t attr;
    process::initCleanSignalAttributes(attr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (output) close(pipeFds[1]);
    if (rc != 0) {
        if (output) close(pipeFds[0]);
        return -1;
    }
    bool overLimit = false;
    if (output) {
        char buffer[16384];
        for (;;) {
            ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (output->size() + size_t(n) > outputLimit) overLimit = true;
            else output->append(buffer, size_t(n));
        }
        close(pipeFds[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (overLimit) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace telvo::update
