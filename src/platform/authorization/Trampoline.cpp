// The privileged trampoline.
#include "platform/authorization/Trampoline.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace telvo::authorization {

std::vector<std::string> trampolineEnvironment(const std::string& root, const char* pkexecUid) {
    std::string home = "/", name = "root";
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* p = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &p) == 0 && p) {
        if (p->pw_dir && *p->pw_dir) home = p->pw_dir;
        if (p->pw_name && *p->pw_name) name = p->pw_name;
    }
    std::vector<std::string> env = {
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
        "HOME=" + home,
        "USER=" + name,
        "LOGNAME=" + name,
        "SHELL=/bin/sh",
        "LANG=C.UTF-8",
        "TELVO_ROOT=" + root,
    };
    if (pkexecUid && *pkexecUid && std::strspn(pkexecUid, "0123456789") == std::strlen(pkexecUid))
        env.push_back(std::string("PKEXEC_UID=") + pkexecUid);
    return env;
}

int trampolineMain(int argc, char** argv) {
    bool report = false;
    std::string root;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--report-stdin") {
            report = true;
        } else if (arg == "--root" && i + 1 < argc) {
            root = argv[++i];
        } else if (arg == "--") {
            ++i;
            break;
        } else {
            i = argc;
        }
    }
    int reportFd = report ? fcntl(0, F_DUPFD_CLOEXEC, 3) : -1;
    auto fail = [&](int err, const char* what) {
        if (reportFd >= 0) {
            std::string line = "E" + std::to_string(err);
            if (write(reportFd, line.data(), line.size()) < 0) {
            }
        }
        std::fprintf(stderr, "telvo-privileged-exec: %s: %s\n", what, std::strerror(err));
        return 127;
    };
    if (reportFd >= 0 && write(reportFd, "R", 1) != 1) return fail(errno, "cannot report");
    if (i >= argc || root.empty() || root[0] != '/' || argv[i][0] != '/')
        return fail(EINVAL, "usage: telvo-privileged-exec [--report-stdin] --root FOLDER -- TOOL [ARGUMENT...]");

    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0 || dup2(devNull, 0) < 0) return fail(errno, "cannot open /dev/null");
    close(devNull);
    umask(022);
    if (chdir("/") != 0) return fail(errno, "cannot change to /");

    std::vector<std::string> env = trampolineEnvironment(root, getenv("PKEXEC_UID"));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    execve(argv[i], argv + i, envp.data());
    return fail(errno, argv[i]);
}

}  // namespace telvo::authorization
