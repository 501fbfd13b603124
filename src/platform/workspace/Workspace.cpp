#include "platform/workspace/Workspace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fs/Root.h"
#include "platform/workspace/DetachedChild.h"
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

// Runs a tool by argument vector, its output discarded; its exit status, -1 when it did not exit.
int runAndWait(const std::vector<std::string>& argv) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    // Moves `from` into the Trash under the first free name; errno tells why not.
    auto moveIn = [&](const std::string& from) -> bool {
        for (int n = 1; n < 100000; ++n) {
            const std::string target = trash + "/" + (n == 1 ? name : format("%@ %d%@", stem, n, ext));
            // RENAME_NOREPLACE: never over a name another process took meanwhile.
            if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
                if (trashedPath) *trashedPath = target;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        errno = EEXIST;
        return false;
    };
    if (moveIn(path)) return true;
    if (errno != EXDEV) {
        const int code = errno;
        setError(error, code, code == EEXIST ? std::string("no free name in the Trash")
                                             : "cannot move " + path + " to the Trash: " + std::strerror(code));
        return false;
    }
    // The Trash is on another file system: copy the item (links, modes and times kept) into a
    // private folder of the Trash, move it to its name there, and only then remove the
    // original. Any failure before the removal leaves the item where it was.
    std::string staging = trash + "/.recycling-XXXXXX";
    if (!mkdtemp(staging.data())) {
        setError(error, errno, "cannot move " + path + " to the Trash: " + std::strerror(errno));
        return false;
    }
    const std::string copy = staging + "/" + name;
    if (runAndWait({"/bin/cp", "-a", "-T", "--", path, copy}) != 0) {
        runAndWait({"/bin/rm", "-rf", "--", staging});
        setError(error, EXDEV, "cannot copy " + path + " to the Trash on another file system; it stays in place");
        return false;
    }
    if (!moveIn(copy)) {
        const int code = errno;
        runAndWait({"/bin/rm", "-rf", "--", staging});
        setError(error, code, "cannot move " + path + " to the Trash: " + std::strerror(code));
        return false;
    }
    rmdir(staging.c_str());
    if (runAndWait({"/bin/rm", "-rf", "--", path}) != 0) {
        setError(error, EIO, "copied " + path + " to the Trash but could not remove it all");
        return false;
    }
    return true;
}

void setOpenToolForTesting(const std::string& path) {
    std::lock_guard lock(gToolMutex);
    gOpenTool = path.empty() ? std::string("/usr/bin/xdg-open") : path;
}

}  // namespace telvo::workspace
