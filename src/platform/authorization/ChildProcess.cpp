// posix_spawn with a report pipe and a wait for that one child.
#include "platform/authorization/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include "platform/process/SpawnSignals.h"

extern char** environ;

namespace telvo::authorization {

int exitCodeOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

ChildRun runChild(const std::vector<std::string>& argv, bool reportOnStdin, bool quiet) {
    ChildRun run;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (reportOnStdin && pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.error = errno;
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (reportOnStdin)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attr;
    process::initCleanSignalAttributes(attr);

    // With the child-ended signal ignored the child would be reaped by the kernel and never
    // waited for.
    struct sigaction previous {}, byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(SIGCHLD, &byDefault, &previous);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (reportOnStdin) close(pipeFds[1]);
    if (rc != 0) {
        if (reportOnStdin) close(pipeFds[0]);
        sigaction(SIGCHLD, &previous, nullptr);
        run.error = rc;
        return run;
    }
    run.started = true;
    if (reportOnStdin) {
        char buf[256];
        for (;;) {
            ssize_t n = read(pipeFds[0], buf, sizeof buf);
            if (n > 0) {
                if (run.report.size() < 4096) run.report.append(buf, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        close(pipeFds[0]);
    }
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited < 0) {
        run.error = errno;
        status = 127 << 8;
    }
    run.waitStatus = status;
    sigaction(SIGCHLD, &previous, nullptr);
    return run;
}

}  // namespace telvo::authorization
