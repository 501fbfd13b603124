#include "platform/workspace/DetachedChild.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace telvo::workspace {

namespace {

void setError(ErrorPtr* error, long code, const std::string& message) {
    if (error) *error = makeError("Workspace", code, message);
}

}  // namespace

bool spawnDetached(const std::vector<std::string>& argv, double delaySeconds, ErrorPtr* error) {
    if (argv.empty()) {
        setError(error, EINVAL, "nothing to start");
        return false;
    }
    // Everything the child needs is made before the fork: after it, only calls that are safe
    // in the child of a process with threads.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const timespec delay{time_t(delaySeconds > 0 ? delaySeconds : 0),
                         long(delaySeconds > 0 ? std::fmod(delaySeconds, 1.0) * 1e9 : 0)};
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        setError(error, errno, std::strerror(errno));
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        const int code = errno;
        close(report[0]);
        close(report[1]);
        setError(error, code, std::strerror(code));
        return false;
    }
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
        // The report pipe's write end stays (it closes on exec); nothing else of ours.
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != report[1]) close(fd);
        if (delaySeconds > 0) {
            // Report the start now; the exec comes later.
            int ok = 0;
            (void)!write(report[1], &ok, sizeof ok);
            close(report[1]);
            report[1] = -1;
            timespec left = delay;
            while (nanosleep(&left, &left) != 0 && errno == EINTR) {
            }
        }
        execv(args[0], args.data());
        int code = errno;
        if (report[1] >= 0) (void)!write(report[1], &code, sizeof code);
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int code = -1;
    ssize_t n;
    while ((n = read(report[0], &code, sizeof code)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        setError(error, -1, "could not start " + argv[0]);
        return false;
    }
    if (n == sizeof code && code != 0) {
        setError(error, code, "could not start " + argv[0] + ": " + std::strerror(code));
        return false;
    }
    return true;
}

}  // namespace telvo::workspace
