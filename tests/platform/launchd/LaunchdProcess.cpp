// Starting and stopping launcher instances and running launchctl for tests.
#include "platform/launchd/LaunchdProcess.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include "platform/launchd/Paths.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {

bool waitUntil(const std::function<bool()>& predicate, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(int(seconds * 1000));
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

namespace {

// Who to become in a forked child, looked up before the fork (after it, in a process with
// threads, only plain system calls are safe).
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    bool known = false;
};

Identity identityOf(uid_t uid) {
    Identity id;
    id.uid = uid;
    if (uid == 0) {
        id.known = true;
        return id;
    }
    passwd* pw = getpwuid(uid);
    if (!pw) return id;
    id.gid = pw->pw_gid;
    int count = 64;
    id.groups.resize(size_t(count));
    if (getgrouplist(pw->pw_name, pw->pw_gid, id.groups.data(), &count) < 0) {
        id.groups.resize(size_t(count));
        getgrouplist(pw->pw_name, pw->pw_gid, id.groups.data(), &count);
    }
    id.groups.resize(size_t(count));
    id.known = true;
    return id;
}

// In the forked child.
bool become(const Identity& id) {
    if (!id.known) return false;
    if (id.uid == 0) return true;
    return setgroups(id.groups.size(), id.groups.data()) == 0 && setgid(id.gid) == 0 && setuid(id.uid) == 0;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

LaunchdProcess::LaunchdProcess(std::string root, uid_t uid, std::vector<std::string> extraArgs,
                               std::vector<std::string> extraEnv)
    : root_(std::move(root)), uid_(uid), args_(std::move(extraArgs)), env_(std::move(extraEnv)) {}

LaunchdProcess::~LaunchdProcess() { stop(); }

bool LaunchdProcess::start() {
    logPath_ = root_ + "/launchd-" + std::to_string(uid_) + "-" + std::to_string(++runs_) + ".log";
    std::vector<std::string> argv{kLaunchdProgram, uid_ == 0 ? "--system" : "--user"};
    argv.insert(argv.end(), args_.begin(), args_.end());
    std::vector<std::string> env{"TELVO_ROOT=" + root_, "PATH=/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* v = getenv(name)) env.push_back(std::string(name) + "=" + v);
    env.insert(env.end(), env_.begin(), env_.end());
    auto av = pointers(argv);
    auto ev = pointers(env);
    int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    Identity id = identityOf(uid_);
    pid_ = fork();
    if (pid_ == 0) {
        ::dup2(log, 1);
        ::dup2(log, 2);
        if (!become(id)) _exit(126);
        execve(kLaunchdProgram, av.data(), ev.data());
        _exit(127);
    }
    ::close(log);
    if (pid_ < 0) return false;
    std::string socket = root_ + (uid_ == 0 ? std::string(launchd::kSystemControlSocket) : launchd::userControlSocket(uid_));
    return waitUntil([&] {
        int st;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        return launchctl(root_, {"list"}, uid_).status == 0;
    }) && pid_ > 0;
}

int LaunchdProcess::stop(double seconds) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int st = 0;
    bool ended = waitUntil([&] { return waitpid(pid_, &st, WNOHANG) == pid_; }, seconds);
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &st, 0);
    }
    pid_ = -1;
    return ended && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

CommandResult launchctl(const std::string& root, const std::vector<std::string>& args, uid_t uid) {
    std::vector<std::string> argv{kLaunchctlProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env{"TELVO_ROOT=" + root, "PATH=/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* v = getenv(name)) env.push_back(std::string(name) + "=" + v);
    auto av = pointers(argv);
    auto ev = pointers(env);
    int pipeFds[2];
    CommandResult result;
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    Identity id = identityOf(uid);
    pid_t pid = fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        if (!become(id)) _exit(126);
        execve(kLaunchctlProgram, av.data(), ev.data());
        _exit(127);
    }
    ::close(pipeFds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) result.output.append(buf, size_t(n));
    ::close(pipeFds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    result.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return result;
}

void writeJob(const std::string& root, const std::string& path, const Value& job, uid_t owner, mode_t mode) {
    std::string host = root + path;
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::ofstream(host, std::ios::trunc) << plist::serialize(job);
    EXPECT_EQ(::chown(host.c_str(), owner, owner == 0 ? 0 : gid_t(owner)), 0) << host;
    EXPECT_EQ(::chmod(host.c_str(), mode), 0) << host;
}

std::vector<ProbeStart> probeStarts(const std::string& hostFile) {
    std::vector<ProbeStart> starts;
    std::istringstream in(readHostFile(hostFile));
    ProbeStart s{};
    while (in >> s.pid >> s.uid >> s.time >> s.services) starts.push_back(s);
    return starts;
}

}  // namespace telvo::testing
