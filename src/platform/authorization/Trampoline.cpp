// The privileged trampoline.
#include "platform/authorization/Trampoline.h"

#include "platform/authorization/Authorization.h"

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

namespace {

// A folder opened from "/" one component at a time, never through a link; missing ones are
// made root 0755. Every folder on the way must be root's and writable by nobody else.
int openRootFolder(const std::string& path, std::string& why) {
    int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t at = 1;
    while (fd >= 0 && at < path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        if (mkdirat(fd, name.c_str(), 0755) == 0) {
            int made = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (made >= 0 && (fchown(made, 0, 0) != 0 || fchmod(made, 0755) != 0)) {
                close(made);
                made = -1;
            }
            close(fd);
            fd = made;
            continue;
        }
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next;
        struct stat st{};
        // A sticky folder of root's ("/tmp") passes: there only an entry's owner may move it.
        if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_uid != 0 || ((st.st_mode & 022) != 0 && !(st.st_mode & S_ISVTX)))) {
            why = path + " is not root's alone";
            close(fd);
            return -1;
        }
    }
    if (fd < 0 && why.empty()) why = "cannot open " + path + ": " + std::strerror(errno);
    return fd;
}

// Writes the bytes as `name` in the folder: a new file, then renamed over the old one.
bool placeFile(int folder, const std::string& name, const std::string& bytes, mode_t mode, std::string& why) {
    const std::string temporary = "." + name + "." + std::to_string(getpid());
    unlinkat(folder, temporary.c_str(), 0);
    int fd = openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = "cannot write " + name + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    bool ok = done == bytes.size() && fchown(fd, 0, 0) == 0 && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    close(fd);
    if (!ok || renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        why = "cannot put " + name + " in place: " + std::strerror(errno);
        unlinkat(folder, temporary.c_str(), 0);
        return false;
    }
    return true;
}

// A regular file read whole through one descriptor, at most `limit` bytes.
bool readRegular(int fd, std::string& bytes, size_t limit) {
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > limit) return false;
    bytes.clear();
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(chunk, size_t(n));
        if (bytes.size() > limit) return false;
    }
}

}  // namespace

std::string trampolineDestination(const std::string& text) {
    const std::string action = "<action id=\"com.kestro.telvoserver.admin\">";
    const std::string key = "<annotate key=\"org.freedesktop.policykit.exec.path\">";
    size_t a = text.find(action);
    if (a == std::string::npos) return {};
    size_t end = text.find("</action>", a);
    size_t k = text.find(key, a);
    if (k == std::string::npos || k > end) return {};
    k += key.size();
    size_t close = text.find("</annotate>", k);
    if (close == std::string::npos) return {};
    std::string path = text.substr(k, close - k);
    const std::string tail = std::string("/") + "telvo-privileged-exec";
    if (path.empty() || path[0] != '/' || path.size() <= tail.size() ||
        path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
        return {};
    for (size_t at = 0; at < path.size();) {
        size_t next = path.find('/', at + 1);
        std::string component = path.substr(at + 1, (next == std::string::npos ? path.size() : next) - at - 1);
        if (component.empty() || component == "." || component == "..") return {};
        if (next == std::string::npos) break;
        at = next;
    }
    for (char c : path)
        if (c < 0x21 || c > 0x7e || c == '&' || c == '<' || c == '>') return {};
    return path;
}

int placePolicy(const std::string& policyFile) {
    auto fail = [](const std::string& why) {
        std::fprintf(stderr, "telvo-privileged-exec: %s; nothing placed\n", why.c_str());
        return 1;
    };
    if (geteuid() != 0) return fail("placing the policy needs root");
    umask(022);
    std::string policy, self;
    int fd = open(policyFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    bool read = readRegular(fd, policy, 1 << 20);
    if (fd >= 0) close(fd);
    if (!read) return fail(policyFile + " is no readable regular file of at most 1 MiB");
    if (policy.find("<policyconfig>") == std::string::npos ||
        policy.find("com.kestro.telvoserver.blesshelper") == std::string::npos)
        return fail(policyFile + " is not the policy of Telvo Server");
    const std::string destination = trampolineDestination(policy);
    if (destination.empty()) return fail(policyFile + " names no place for the trampoline");
    // This very program, as it was started.
    fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    read = readRegular(fd, self, size_t(256) << 20);
    if (fd >= 0) close(fd);
    if (!read) return fail("cannot read this program");

    std::string why;
    const std::string policyPath = kPolicyInstallPath;
    const size_t policySlash = policyPath.find_last_of('/');
    const size_t toolSlash = destination.find_last_of('/');
    int tools = openRootFolder(destination.substr(0, toolSlash), why);
    if (tools < 0) return fail(why);
    bool placed = placeFile(tools, destination.substr(toolSlash + 1), self, 0755, why);
    close(tools);
    if (!placed) return fail(why);
    // The policy last: once polkit sees it, it names a trampoline that is there.
    int actions = openRootFolder(policyPath.substr(0, policySlash), why);
    if (actions < 0) return fail(why);
    placed = placeFile(actions, policyPath.substr(policySlash + 1), policy, 0644, why);
    close(actions);
    if (!placed) return fail(why);
    return 0;
}

int trampolineMain(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--place-policy") == 0) return placePolicy(argv[2]);
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
