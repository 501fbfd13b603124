#include "app/installer/DelayedMove.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <vector>

namespace telvo::app {

bool moveLater(const std::string& from, const std::string& to, bool copy, double delaySeconds) {
    // Everything the child needs is made before the fork: after it, only calls that are safe
    // in the child of a process with threads.
    std::vector<std::string> argv = copy ? std::vector<std::string>{"/bin/cp", "-R", "-n", "-T", "--", from, to}
                                         : std::vector<std::string>{"/bin/mv", "-n", "-T", "--", from, to};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const timespec wait{time_t(delaySeconds), long(std::fmod(delaySeconds, 1.0) * 1e9)};
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        timespec left = wait;
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace telvo::app
