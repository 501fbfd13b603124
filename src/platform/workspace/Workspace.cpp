#include "platform/workspace/Workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fs/Root.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"

namespace telvo::workspace {
namespace {

std::mutex gToolMutex;
std::string gOpenTool = "/usr/bin/xdg-open";

void setError(ErrorPtr* error, long code, const std::string& message) {
    if (error) *error = makeError("Workspace", code, message);
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs argv detached: a grandchild in its own session, reparented away from us, so that no
// zombie is left. Answers whether exec succeeded (checked through a close-on-exec pipe) when
// there is no delay; with a delay, whether the child was made.
bool spawnDetached(const std::vector<std::string>& argv, double delaySeconds, ErrorPtr* error) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        setError(error, errno, std::strerror(errno));
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        setError(error, errno, std::strerror(errno));
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
        if (delaySeconds > 0) {
            // Report the start now; the exec comes later.
            int ok = 0;
            (void)!write(report[1], &ok, sizeof ok);
            close(report[1]);
            timespec wait{time_t(delaySeconds), long(std::fmod(delaySeconds, 1.0) * 1e9)};
            while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
            }
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        int code = errno;
        (void)!write(report[1], &code, sizeof code);
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

}  // namespace

std::string bundleExecutable(const std::string& bundlePath) {
    Value info = plist::readFile(bundlePath + "/Contents/Info.plist");
    const std::string name = info["CFBundleExecutable"].stringValue();
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
    return bundlePath + "/Contents/MacOS/" + name;
}

bool launchApplication(const std::string& application, double delaySeconds, ErrorPtr* error) {
    std::string bundle = application;
    if (application.find('/') == std::string::npos) {
        bundle = "/Applications/" + application + (endsWith(application, ".app") ? "" : ".app");
    }
    bundle = fs::resolve(bundle);
    const std::string executable = bundleExecutable(bundle);
    if (executable.empty()) {
        setError(error, ENOENT, "no application at " + bundle);
        return false;
    }
    if (access(executable.c_str(), X_OK) != 0) {
        setError(error, errno, executable + " cannot be run: " + std::strerror(errno));
        return false;
    }
    return spawnDetached({executable}, delaySeconds, error);
}

bool openURL(const std::string& url, ErrorPtr* error) {
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
        setError(error, EINVAL, "only http and https addresses are opened");
        return false;
    }
    std::string tool;
    {
        std::lock_guard lock(gToolMutex);
        tool = gOpenTool;
    }
    return spawnDetached({tool, url}, 0, error);
}

bool recycle(const std::string& path, std::string* trashedPath, ErrorPtr* error) {
    const std::string trash = fs::expandTilde("~/.Trash");
    if (mkdir(trash.c_str(), 0700) != 0 && errno != EEXIST) {
        setError(error, errno, "cannot make " + trash);
        return false;
    }
    struct stat st;
    if (lstat(trash.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        setError(error, EPERM, trash + " is not a folder of this user");
        return false;
    }
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    name = name.substr(name.rfind('/') + 1);
    std::string stem = name, ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    for (int n = 1; n < 100000; ++n) {
        const std::string target = trash + "/" + (n == 1 ? name : format("%@ %d%@", stem, n, ext));
        // RENAME_NOREPLACE: never over a name another process took meanwhile.
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            if (trashedPath) *trashedPath = target;
            return true;
        }
        if (errno != EEXIST) {
            setError(error, errno, "cannot move " + path + " to the Trash: " + std::strerror(errno));
            return false;
        }
    }
    setError(error, EEXIST, "no free name in the Trash");
    return false;
}

void setOpenToolForTesting(const std::string& path) {
    std::lock_guard lock(gToolMutex);
    gOpenTool = path.empty() ? std::string("/usr/bin/xdg-open") : path;
}

}  // namespace telvo::workspace
