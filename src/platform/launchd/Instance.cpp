// The instance's poll loop: control requests, service sockets, child exits and timers.
#include "platform/launchd/Instance.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include "platform/authorization/Authorization.h"
#include "platform/fs/Root.h"
#include "platform/launchd/ControlClient.h"
#include "platform/launchd/Paths.h"
#include "platform/launchd/Trust.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/time/Clock.h"
#include "platform/values/PropertyList.h"
#include "platform/xpc/PeerCredentials.h"
#include "platform/xpc/RunFolder.h"

extern char** environ;

namespace telvo::launchd {

namespace {

double now() { return platform::Clock::monotonic(); }

// A control client has this long to send its request, and only so many wait at once, so that
// no local user ties up the instance's descriptors. Root's clients have slots of their own: no
// other user's clients can lock root out. Every other user has a few slots and a short wait.
constexpr double kRequestTimeout = 10;
constexpr double kUserRequestTimeout = 2;
constexpr size_t kMaxRootClients = 64;
constexpr size_t kMaxUserClients = 64;
constexpr size_t kMaxClientsPerUser = 8;
// A refused user is logged at most this often.
constexpr double kRefusalLogInterval = 10;
// The uids of login users (Debian's UID_MIN and UID_MAX).
constexpr uid_t kFirstLoginUser = 1000;
constexpr uid_t kLastLoginUser = 60000;
// Requests checked off the loop (each one a thread, and a question may wait for the user).
constexpr int kMaxWorksPerUser = 4;
constexpr int kMaxWorks = 32;
// How long an obtained blessing right is kept for its caller.
constexpr double kKeepRight = 300;

ErrorPtr posixError(int err, const std::string& what) {
    return makeError("NSPOSIXErrorDomain", err, what + ": " + std::strerror(err));
}

bool socketAddress(const std::string& path, sockaddr_un& address) {
    std::string host = fs::resolve(path);
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (host.size() >= sizeof address.sun_path) return false;
    host.copy(address.sun_path, host.size());
    return true;
}

// A listening socket at the path, any file left there before replaced.
int bindListening(const std::string& path, mode_t mode, ErrorPtr* error) {
    sockaddr_un address;
    if (!socketAddress(path, address)) {
        *error = posixError(ENAMETOOLONG, path);
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = posixError(errno, "socket");
        return -1;
    }
    struct stat st{};
    if (::lstat(address.sun_path, &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(address.sun_path);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(address.sun_path, mode) != 0 || ::listen(fd, 128) != 0) {
        *error = posixError(errno, "cannot listen on " + path);
        ::close(fd);
        ::unlink(address.sun_path);
        return -1;
    }
    return fd;
}

std::string exitDescription(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}

Value status(long code, const std::string& message) {
    Value v(ValueDictionary{});
    v.set("status", Value(static_cast<long long>(code)));
    if (!message.empty()) v.set("message", message);
    return v;
}

// A folder owned by a user, for that user alone.
ErrorPtr prepareUserFolder(const std::string& path, uid_t uid, gid_t gid) {
    std::string host = fs::resolve(path);
    if (::mkdir(host.c_str(), 0700) != 0 && errno != EEXIST) return posixError(errno, "cannot make " + path);
    struct stat st{};
    if (::lstat(host.c_str(), &st) != 0) return posixError(errno, path);
    if (!S_ISDIR(st.st_mode)) return posixError(ENOTDIR, path);
    if ((st.st_uid != uid || st.st_gid != gid) && ::lchown(host.c_str(), uid, gid) != 0)
        return posixError(errno, "cannot give " + path + " to uid " + std::to_string(uid));
    if ((st.st_mode & 07777) != 0700 && ::chmod(host.c_str(), 0700) != 0)
        return posixError(errno, "cannot set the mode of " + path);
    return nullptr;
}

}  // namespace

Instance::Instance(Settings settings)
    : settings_(std::move(settings)),
      overrides_(settings_.system ? systemOverridesPath() : userOverridesPath(settings_.uid)),
      controlPath_(settings_.system ? std::string(kSystemControlSocket) : userControlSocket(settings_.uid)),
      serviceFolder_(settings_.system ? std::string(xpc::kServiceFolder) : xpc::userServiceFolder(settings_.uid)),
      workers_(std::make_shared<Workers>()) {}

Instance::~Instance() {
    for (auto& [label, job] : jobs_) closeServices(*job);
    for (auto& c : clients_) ::close(c.fd);
    if (controlFd_ >= 0) {
        ::close(controlFd_);
        ::unlink(fs::resolve(controlPath_).c_str());
    }
    if (signalFd_ >= 0) ::close(signalFd_);
    std::lock_guard<std::mutex> lock(workers_->mutex);
    for (auto& c : workers_->done) ::close(c.fd);
    workers_->done.clear();
}

void Instance::Workers::post(Completion c) {
    std::lock_guard<std::mutex> lock(mutex);
    done.push_back(std::move(c));
    char byte = 1;
    if (pipe[1] >= 0) (void)!::write(pipe[1], &byte, 1);
}

bool Instance::Workers::holds(const xpc::PeerCredentials& peer) {
    if (!peer.pidfd || !peer.pidfd->valid()) return false;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = kept.find({peer.pid, peer.pidfd->startTime()});
    return it != kept.end() && it->second > now() && peer.alive();
}

void Instance::Workers::keep(const xpc::PeerCredentials& peer) {
    if (!peer.pidfd || !peer.pidfd->valid()) return;
    std::lock_guard<std::mutex> lock(mutex);
    double t = now();
    for (auto it = kept.begin(); it != kept.end();) it = it->second <= t ? kept.erase(it) : std::next(it);
    if (kept.size() < 4096) kept[{peer.pid, peer.pidfd->startTime()}] = t + kKeepRight;
}

void Instance::Workers::release(uid_t uid) {
    std::lock_guard<std::mutex> lock(mutex);
    if (--busy[uid] <= 0) busy.erase(uid);
    --busyTotal;
}

ErrorPtr Instance::start() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) return posixError(errno, "signalfd");
    // Never closed: a worker still running when the instance ends may write to it.
    if (::pipe2(workers_->pipe, O_CLOEXEC | O_NONBLOCK) != 0) return posixError(errno, "pipe");
    if (ErrorPtr e = prepareFolders()) return e;
    if (ErrorPtr e = bindControlSocket()) return e;
    SystemLog("launchd: %@ instance started (uid %u, session %@)", settings_.system ? "system" : "user",
              unsigned(settings_.uid), settings_.sessionType);
    loadFolder();
    return nullptr;
}

ErrorPtr Instance::prepareFolders() {
    if (settings_.system) {
        if (ErrorPtr e = xpc::prepareRunFolder(xpc::kServiceFolder, 0755)) return e;
        if (ErrorPtr e = xpc::prepareRunFolder(kRunFolder, 0755)) return e;
        if (ErrorPtr e = xpc::prepareSharedRunFolder(kNotificationsFolder)) return e;
        if (ErrorPtr e = xpc::prepareRunFolder(kDatabaseFolder, 0755)) return e;
        // Every login user's folders, ready before the user's session checks in.
        setpwent();
        while (passwd* pw = getpwent())
            if (pw->pw_uid >= kFirstLoginUser && pw->pw_uid < kLastLoginUser) makeUserFolders(pw->pw_uid);
        endpwent();
        return nullptr;
    }
    // The system instance makes the user's folders; one made earlier serves when it is down.
    ErrorPtr checkinError;
    Value answer = sendControlRequest(kSystemControlSocket, Value(ValueDictionary{{"command", Value("checkin")}}), 10,
                                      &checkinError);
    if (checkinError)
        SystemLog("launchd: cannot check in with the system instance: %@", checkinError->message);
    else if (answer["status"].intValue() != 0)
        SystemLog("launchd: the system instance refused the check-in: %@", answer["message"].string());
    if (ErrorPtr e = xpc::prepareRunFolder(serviceFolder_, 0700)) return e;
    if (ErrorPtr e = xpc::prepareRunFolder(userDatabaseFolder(settings_.uid), 0700)) return e;
    return nullptr;
}

ErrorPtr Instance::bindControlSocket() {
    sockaddr_un address;
    if (!socketAddress(controlPath_, address)) return posixError(ENAMETOOLONG, controlPath_);
    // An instance already answering there keeps its place.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (live) return posixError(EADDRINUSE, "an instance already answers on " + controlPath_);
    ErrorPtr error;
    controlFd_ = bindListening(controlPath_, settings_.system ? 0666 : 0600, &error);
    return error;
}

void Instance::loadFolder() {
    std::string folder = settings_.system ? kDaemonsFolder : kAgentsFolder;
    DIR* dir = ::opendir(fs::resolve(folder).c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".plist") == 0 && name.front() != '.')
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) load(folder + "/" + name, false, "", true);
}

Instance::Job* Instance::findJob(const std::string& label) {
    auto it = jobs_.find(label);
    return it == jobs_.end() ? nullptr : it->second.get();
}

ErrorPtr Instance::load(const std::string& path, bool write, const std::string& session, bool atStart) {
    auto refuse = [&](const ErrorPtr& e) {
        SystemLog("launchd: refused %@: %@", path, e->message);
        return e;
    };
    ErrorPtr error;
    Value plist;
    {
        // The file checked is the file read: one descriptor, opened without following links.
        TrustedFile file;
        if (ErrorPtr e = openTrusted(path, settings_.uid, file)) return refuse(e);
        std::string contents;
        if (!file.readable()) errno = EACCES;
        if (!file.readable() || !fs::readDescriptor(file.fd(), contents, kJobFileLimit))
            return refuse(makeError("launchd", errno, plist::readFailure(path, errno, kJobFileLimit)));
        plist = plist::parse(contents, &error);
    }
    if (error) return refuse(error);
    JobSpec spec = JobSpec::fromPropertyList(plist, &error);
    if (error) return refuse(error);
    if (!session.empty() && session != settings_.sessionType)
        return refuse(makeError("launchd", ESRCH, "no session of type " + session + " in this instance"));
    if (!spec.allowsSession(settings_.sessionType)) {
        // Another session's job: skipped quietly at start, as the folder is shared.
        auto e = makeError("launchd", EINVAL, spec.label + " does not load in a " + settings_.sessionType + " session");
        return atStart ? e : refuse(e);
    }
    if (ErrorPtr e = checkTrusted(spec.program, settings_.uid)) return refuse(e);
    if (write) {
        if (ErrorPtr e = overrides_.setDisabled(spec.label, false))
            SystemLog("launchd: cannot write the override of %@ in %@: %@", spec.label, overrides_.path(), e->message);
    } else {
        std::optional<bool> overridden = overrides_.disabled(spec.label);
        if (overridden.value_or(spec.disabled)) {
            auto e = makeError("launchd", ENOTSUP, spec.label + " is disabled");
            return atStart ? e : refuse(e);
        }
    }
    if (findJob(spec.label)) return makeError("launchd", EEXIST, spec.label + " is already loaded");
    for (const auto& [label, other] : jobs_)
        for (const auto& s : other->services)
            for (const auto& name : spec.machServices)
                if (s.name == name)
                    return refuse(makeError("launchd", EEXIST, "the Mach service " + name + " belongs to " + label));
    auto job = std::make_unique<Job>();
    job->spec = spec;
    job->plist = plist;
    job->plistPath = path;
    if (ErrorPtr e = makeServices(*job)) {
        closeServices(*job);
        return refuse(e);
    }
    Job& j = *job;
    jobs_[spec.label] = std::move(job);
    SystemLog("launchd: %@: loaded from %@", spec.label, path);
    if (spec.runAtLoad || spec.keepAlive) requestStart(j, "at load");
    return nullptr;
}

ErrorPtr Instance::makeServices(Job& job) {
    for (const auto& name : job.spec.machServices) {
        Service s;
        s.name = name;
        s.path = serviceFolder_ + "/" + name;
        ErrorPtr error;
        // Any local user may connect to a system service (the service checks its caller); a
        // user's services sit in that user's own folder.
        s.fd = bindListening(s.path, settings_.system ? 0666 : 0600, &error);
        if (s.fd < 0) return error;
        job.services.push_back(s);
    }
    return nullptr;
}

void Instance::closeServices(Job& job) {
    for (auto& s : job.services) {
        if (s.fd < 0) continue;
        ::close(s.fd);
        s.fd = -1;
        ::unlink(fs::resolve(s.path).c_str());
    }
    job.services.clear();
}

void Instance::requestStart(Job& job, const char* why) {
    if (job.pid > 0 || job.unloading || stopping_) return;
    double earliest = job.lastStart + settings_.throttleInterval;
    if (now() >= earliest) {
        startJob(job, why);
        return;
    }
    if (!job.startPending)
        SystemLog("launchd: %@: throttled, starting again in %.1f s", job.spec.label, earliest - now());
    job.startPending = true;
    job.startAt = earliest;
}

void Instance::startJob(Job& job, const char* why) {
    job.startPending = false;
    job.lastStart = now();
    // The program run is the file checked: executed through the descriptor the check opened.
    TrustedFile program;
    if (ErrorPtr e = openTrusted(job.spec.program, settings_.uid, program)) {
        SystemLog("launchd: %@: refused to start: %@", job.spec.label, e->message);
        return;
    }
    // A script is read by its interpreter through /dev/fd, so its descriptor must stay open.
    char magic[2] = {0, 0};
    bool script = program.readable() && ::pread(program.fd(), magic, 2, 0) == 2 && magic[0] == '#' && magic[1] == '!';
    std::string cwd = fs::root();
    std::vector<std::string> env{"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"};
    // This system's own settings (TELVO_ROOT among them) are carried, and for a user's session
    // the variables that tie a program to that session: its bus, its display (X with its
    // authority file, or Wayland) and its language, for the applications its agents start.
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TELVO_", 6) == 0) env.push_back(*e);
    if (!settings_.system)
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY", "XAUTHORITY",
                                 "WAYLAND_DISPLAY", "LANG", "LANGUAGE", "TMPDIR"})
            if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    std::vector<char> pwBuffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(settings_.uid, &pw, pwBuffer.data(), pwBuffer.size(), &found) == 0 && found) {
        env.push_back(std::string("HOME=") + found->pw_dir);
        env.push_back(std::string("USER=") + found->pw_name);
        env.push_back(std::string("LOGNAME=") + found->pw_name);
        env.push_back(std::string("SHELL=") + found->pw_shell);
    }
    std::vector<int> fds;
    if (!job.services.empty()) {
        std::string names;
        for (const auto& s : job.services) {
            fds.push_back(s.fd);
            names += (names.empty() ? "" : ":") + s.name;
        }
        env.push_back("LISTEN_FDS=" + std::to_string(fds.size()));
        env.push_back("LISTEN_FDNAMES=" + names);
    }
    std::vector<char*> argv, envp;
    for (auto& a : job.spec.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    char listenPid[32] = "LISTEN_PID=";
    if (!fds.empty()) envp.push_back(listenPid);
    envp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        SystemLog("launchd: %@: cannot start: %s", job.spec.label, std::strerror(errno));
        return;
    }
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        ::setsid();
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0 && null != 0) {
            ::dup2(null, 0);
            ::close(null);
        }
        // The listening sockets go to 3, 4, ... by way of descriptors above any of them; the
        // program's descriptor (closed at exec unless it is a script's) follows them.
        int moved[64];
        size_t n = std::min(fds.size(), sizeof moved / sizeof moved[0]);
        int programFd = ::fcntl(program.fd(), F_DUPFD_CLOEXEC, 1024);
        for (size_t i = 0; i < n; ++i) moved[i] = ::fcntl(fds[i], F_DUPFD_CLOEXEC, 1024);
        if (programFd < 0) _exit(126);
        for (size_t i = 0; i < n; ++i) ::dup2(moved[i], int(3 + i));
        if (script) {
            // dup2 leaves the copy open across exec.
            ::dup2(programFd, int(3 + n));
            programFd = int(3 + n);
            ::close_range(unsigned(4 + n), ~0U, 0);
        } else {
            int top = int(3 + n);
            if (programFd > top) ::close_range(unsigned(top), unsigned(programFd - 1), 0);
            ::close_range(unsigned(programFd + 1), ~0U, 0);
        }
        if (n) std::snprintf(listenPid, sizeof listenPid, "LISTEN_PID=%d", int(::getpid()));
        if (::chdir(cwd.c_str()) != 0) _exit(126);
        ::execveat(programFd, "", argv.data(), envp.data(), AT_EMPTY_PATH);
        _exit(127);
    }
    job.pid = pid;
    SystemLog("launchd: %@: started %@, pid %d", job.spec.label, why, int(pid));
}

void Instance::stopJob(Job& job) {
    job.startPending = false;
    if (job.pid <= 0 || job.unloading) {
        job.unloading = true;
        return;
    }
    job.unloading = true;
    job.killAt = now() + settings_.exitTimeout;
    // The job's own process only: what it started is its own to stop.
    ::kill(job.pid, SIGTERM);
}

void Instance::reap() {
    // Each job's own process only: a worker thread waits for the tools it runs (pkcheck), and
    // a wait for any child would take their statuses.
    std::vector<std::pair<std::string, int>> ended;
    for (auto& [label, job] : jobs_) {
        if (job->pid <= 0) continue;
        int st = 0;
        if (::waitpid(job->pid, &st, WNOHANG) == job->pid) ended.emplace_back(label, st);
    }
    for (const auto& [label, st] : ended)
        if (Job* job = findJob(label)) jobExited(*job, st);
}

void Instance::jobExited(Job& job, int st) {
    job.pid = -1;
    job.lastExitStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
    SystemLog("launchd: %@: %@", job.spec.label, exitDescription(st));
    if (job.unloading) {
        removeJob(job.spec.label, status(0, job.spec.label + ": " + exitDescription(st)));
        return;
    }
    if (job.spec.keepAlive) requestStart(job, "again (KeepAlive)");
}

void Instance::removeJob(std::string label, const Value& result) {
    auto it = jobs_.find(label);
    if (it == jobs_.end()) return;
    Job& job = *it->second;
    closeServices(job);
    if (job.removeFile) {
        if (::unlink(fs::resolve(job.plistPath).c_str()) == 0 || errno == ENOENT)
            SystemLog("launchd: %@: removed %@", label, job.plistPath);
        else
            SystemLog("launchd: %@: cannot remove %@: %s", label, job.plistPath, std::strerror(errno));
    }
    std::vector<int> waiters = std::move(job.waiters), reloadWaiters = std::move(job.reloadWaiters);
    std::string reloadPath = job.reloadPath;
    jobs_.erase(it);
    SystemLog("launchd: %@: unloaded", label);
    for (int fd : waiters) {
        answer(fd, result);
        ::close(fd);
    }
    if (reloadWaiters.empty()) return;
    ErrorPtr e = stopping_ ? makeError("launchd", ESHUTDOWN, "the instance is stopping") : load(reloadPath, true, "", false);
    Value reloaded = e ? status(e->code ? e->code : 1, e->message) : status(0, "");
    for (int fd : reloadWaiters) {
        answer(fd, reloaded);
        ::close(fd);
    }
}

void Instance::answer(int fd, const Value& value) {
    std::string bytes = xpc::encodeMessage(value);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return;
            continue;
        }
        if (n <= 0) return;
        done += size_t(n);
    }
}

void Instance::acceptClients() {
    for (;;) {
        int fd = ::accept4(controlFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        xpc::PeerCredentials peer;
        // Pinned now: "authorize", "bless" and "remove" are decided about this very process.
        if (!xpc::pinPeerCredentials(fd, peer)) {
            ::close(fd);
            continue;
        }
        bool root = peer.uid == 0;
        size_t same = 0, users = 0;
        for (const auto& c : clients_) {
            if (c.fd < 0) continue;
            if (c.uid == peer.uid) ++same;
            if (c.uid != 0) ++users;
        }
        bool full = root ? same >= kMaxRootClients : (same >= kMaxClientsPerUser || users >= kMaxUserClients);
        if (full) {
            ::close(fd);
            double t = now();
            auto logged = lastRefusalLog_.find(peer.uid);
            if (logged == lastRefusalLog_.end() || t - logged->second >= kRefusalLogInterval) {
                lastRefusalLog_[peer.uid] = t;
                SystemLog("launchd: refusing control clients of uid %u: %u of theirs are waiting", unsigned(peer.uid),
                          unsigned(same));
            }
            continue;
        }
        Client c;
        c.fd = fd;
        c.uid = peer.uid;
        c.peer = peer;
        c.deadline = now() + (root ? kRequestTimeout : kUserRequestTimeout);
        clients_.push_back(std::move(c));
    }
}

void Instance::readClient(size_t index) {
    Client& c = clients_[index];
    char buf[65536];
    ssize_t n = ::read(c.fd, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    std::vector<Value> messages;
    if (n > 0) messages = c.decoder.feed(buf, size_t(n));
    if (n <= 0 || c.decoder.failed()) {
        ::close(c.fd);
        c.fd = -1;
        return;
    }
    if (messages.empty()) return;
    Value result;
    if (handleRequest(c, messages.front(), result)) {
        answer(c.fd, result);
        ::close(c.fd);
    }
    // Answered, or kept by the job whose unload it waits for.
    c.fd = -1;
}

bool Instance::handleRequest(Client& client, const Value& request, Value& result) {
    const std::string& command = request["command"].string();
    if (command == "checkin") {
        if (settings_.system && client.uid != 0) makeUserFolders(client.uid);
        result = status(0, "");
        return true;
    }
    if (settings_.system && command == "copyjob") {
        Job* job = findJob(request["label"].string());
        if (!job) {
            result = status(ESRCH, "Could not find specified service");
            return true;
        }
        result = status(0, "");
        result.set("job", job->plist);
        return true;
    }
    // Any user may ask; the worker decides about the caller on the root side.
    if (settings_.system && (command == "authorize" || command == "bless" || command == "remove"))
        return !startWorker(client, request, result);
    if (client.uid != 0 && client.uid != settings_.uid) {
        result = status(EPERM, "only root may drive this instance");
        return true;
    }
    if (command == "list") {
        ValueArray list;
        for (const auto& [label, job] : jobs_) {
            Value entry(ValueDictionary{});
            entry.set("Label", label);
            if (job->pid > 0) entry.set("PID", Value(static_cast<long long>(job->pid)));
            entry.set("LastExitStatus", Value(static_cast<long long>(job->lastExitStatus)));
            list.push_back(entry);
        }
        result = status(0, "");
        result.set("jobs", Value(list));
        return true;
    }
    const std::string& path = request["path"].string();
    bool write = request["write"].isBoolean() && request["write"].boolValue();
    const std::string& session = request["session"].string();
    if (path.empty() || path.front() != '/') {
        result = status(EINVAL, "no absolute path");
        return true;
    }
    if (command == "load") {
        ErrorPtr e = load(path, write, session, false);
        result = e ? status(e->code ? e->code : 1, e->message) : status(0, "");
        return true;
    }
    if (command == "unload") {
        // Only its label is needed: read without blocking and within the limit, wherever it is.
        ErrorPtr error;
        Value plist = plist::readFile(path, &error, kJobFileLimit);
        JobSpec spec = error ? JobSpec() : JobSpec::fromPropertyList(plist, &error);
        if (error) {
            result = status(EINVAL, path + ": " + error->message);
            return true;
        }
        if (!session.empty() && session != settings_.sessionType) {
            result = status(ESRCH, "no session of type " + session + " in this instance");
            return true;
        }
        if (write) {
            if (ErrorPtr e = overrides_.setDisabled(spec.label, true))
                SystemLog("launchd: cannot write the override of %@ in %@: %@", spec.label, overrides_.path(), e->message);
        }
        Job* job = findJob(spec.label);
        if (!job) {
            result = status(ESRCH, "Could not find specified service");
            return true;
        }
        stopJob(*job);
        if (job->pid > 0) {
            job->waiters.push_back(client.fd);
            return false;
        }
        std::string label = job->spec.label;
        removeJob(label, Value());
        result = status(0, "");
        return true;
    }
    result = status(EINVAL, "unknown command \"" + command + "\"");
    return true;
}

bool Instance::startWorker(Client& client, const Value& request, Value& result) {
    const std::string command = request["command"].string();
    {
        std::lock_guard<std::mutex> lock(workers_->mutex);
        if (workers_->busy[client.uid] >= kMaxWorksPerUser || workers_->busyTotal >= kMaxWorks) {
            if (workers_->busy[client.uid] == 0) workers_->busy.erase(client.uid);
            result = status(EAGAIN, "too many requests of this user are being answered");
            return false;
        }
        ++workers_->busy[client.uid];
        ++workers_->busyTotal;
    }
    std::shared_ptr<Workers> workers = workers_;
    xpc::PeerCredentials peer = client.peer;
    int fd = client.fd;
    uid_t uid = client.uid;
    std::string label = request["label"].string();
    std::string right = request["right"].string();
    bool interaction = request["interaction"].isBoolean() && request["interaction"].boolValue();
    std::thread([workers, peer, fd, uid, command, label, right, interaction] {
        using namespace authorization;
        if (command == "authorize") {
            AuthorizationFlags flags = kAuthorizationFlagExtendRights | (interaction ? kAuthorizationFlagInteractionAllowed : 0);
            OSStatus s = AuthorizationCheckCaller(peer, right, flags);
            if (s == errAuthorizationSuccess && right == kSMRightBlessPrivilegedHelper) workers->keep(peer);
            Value reply = status(0, "");
            reply.set("authorization", Value(static_cast<long long>(s)));
            std::string bytes = xpc::encodeMessage(reply);
            // The descriptor is non-blocking; an answer this small fits the socket's buffer.
            (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ::close(fd);
            workers->release(uid);
            return;
        }
        Completion c;
        c.fd = fd;
        c.uid = uid;
        c.command = command;
        c.label = label;
        if (command == "bless") {
            c.error = blessHelper(peer, label, c.blessed);
        } else {
            OSStatus s = workers->holds(peer) ? errAuthorizationSuccess
                                              : AuthorizationCheckCaller(peer, kSMRightBlessPrivilegedHelper,
                                                                         kAuthorizationFlagExtendRights);
            if (s != errAuthorizationSuccess) {
                c.error = makeError("launchd", EPERM, std::string("the caller may not remove jobs (") + statusMessage(s) + ")");
                SystemLog("launchd: refused to remove %@ for %@: %@", label, peer.description(), c.error->message);
            }
        }
        workers->release(uid);
        workers->post(std::move(c));
    }).detach();
    return true;
}

void Instance::finishWorks() {
    char drain[64];
    while (::read(workers_->pipe[0], drain, sizeof drain) > 0) {
    }
    std::vector<Completion> done;
    {
        std::lock_guard<std::mutex> lock(workers_->mutex);
        done.swap(workers_->done);
    }
    for (auto& c : done) {
        if (c.error) {
            answer(c.fd, status(c.error->code ? c.error->code : EPERM, c.error->message));
            ::close(c.fd);
            continue;
        }
        Job* job = findJob(c.label);
        if (c.command == "remove") {
            if (!job) {
                answer(c.fd, status(ESRCH, "Could not find specified service"));
                ::close(c.fd);
                continue;
            }
            job->removeFile = true;
            job->waiters.push_back(c.fd);
        } else if (!job) {
            ErrorPtr e = load(c.blessed.jobFile, true, "", false);
            answer(c.fd, e ? status(e->code ? e->code : 1, e->message) : status(0, ""));
            ::close(c.fd);
            continue;
        } else {
            // The job of the old helper goes first; the new one is loaded once it has ended.
            job->reloadPath = c.blessed.jobFile;
            job->reloadWaiters.push_back(c.fd);
        }
        stopJob(*job);
        if (job->pid <= 0) {
            std::string label = job->spec.label;
            removeJob(label, status(0, ""));
        }
    }
}

void Instance::makeUserFolders(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    gid_t gid = uid;
    if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found) gid = found->pw_gid;
    for (const std::string& folder : {xpc::userServiceFolder(uid), userDatabaseFolder(uid)})
        if (ErrorPtr e = prepareUserFolder(folder, uid, gid))
            SystemLog("launchd: cannot prepare %@ for uid %u: %@", folder, unsigned(uid), e->message);
}

void Instance::beginShutdown() {
    if (stopping_) return;
    stopping_ = true;
    SystemLog("launchd: stopping every job");
    std::vector<std::string> idle;
    for (auto& [label, job] : jobs_) {
        stopJob(*job);
        if (job->pid <= 0) idle.push_back(label);
    }
    for (const auto& label : idle) removeJob(label, status(0, ""));
}

int Instance::run() {
    while (!(stopping_ && jobs_.empty())) {
        std::vector<pollfd> fds;
        enum Kind { kSignal, kControl, kClient, kService, kWorkers };
        std::vector<std::pair<Kind, std::string>> what;  // the job label of a service
        std::vector<size_t> clientIndex;
        double deadline = INFINITY;
        fds.push_back({signalFd_, POLLIN, 0});
        what.push_back({kSignal, ""});
        clientIndex.push_back(0);
        fds.push_back({workers_->pipe[0], POLLIN, 0});
        what.push_back({kWorkers, ""});
        clientIndex.push_back(0);
        if (!stopping_) {
            fds.push_back({controlFd_, POLLIN, 0});
            what.push_back({kControl, ""});
            clientIndex.push_back(0);
        }
        for (size_t i = 0; i < clients_.size(); ++i) {
            deadline = std::min(deadline, clients_[i].deadline);
            fds.push_back({clients_[i].fd, POLLIN, 0});
            what.push_back({kClient, ""});
            clientIndex.push_back(i);
        }
        for (auto& [label, job] : jobs_) {
            if (job->startPending) deadline = std::min(deadline, job->startAt);
            if (job->unloading && job->pid > 0 && !job->killed) deadline = std::min(deadline, job->killAt);
            if (job->pid > 0 || job->startPending || job->unloading) continue;
            for (const auto& s : job->services) {
                fds.push_back({s.fd, POLLIN, 0});
                what.push_back({kService, label});
                clientIndex.push_back(0);
            }
        }
        int timeout = -1;
        if (std::isfinite(deadline)) timeout = int(std::max(0.0, std::ceil((deadline - now()) * 1000)));
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) {
            SystemLog("launchd: poll failed: %s", std::strerror(errno));
            return 1;
        }
        for (size_t i = 0; r > 0 && i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            switch (what[i].first) {
            case kSignal: {
                signalfd_siginfo info;
                while (::read(signalFd_, &info, sizeof info) == ssize_t(sizeof info)) {
                    if (info.ssi_signo == SIGCHLD) reap();
                    else beginShutdown();
                }
                reap();
                break;
            }
            case kControl: acceptClients(); break;
            case kWorkers: finishWorks(); break;
            case kClient: readClient(clientIndex[i]); break;
            case kService:
                if (Job* job = findJob(what[i].second))
                    if (job->pid <= 0 && !job->startPending) requestStart(*job, "on demand");
                break;
            }
        }
        double t = now();
        for (auto& c : clients_)
            if (c.fd >= 0 && t >= c.deadline) {
                ::close(c.fd);
                c.fd = -1;
            }
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const Client& c) { return c.fd < 0; }),
                       clients_.end());
        for (auto& [label, job] : jobs_) {
            if (job->startPending && t >= job->startAt) startJob(*job, "after the throttle interval");
            if (job->unloading && job->pid > 0 && !job->killed && t >= job->killAt) {
                SystemLog("launchd: %@: still running %.0f s after SIGTERM, sending SIGKILL", label,
                          settings_.exitTimeout);
                ::kill(job->pid, SIGKILL);
                job->killed = true;
            }
        }
    }
    SystemLog("launchd: %@ instance stopped", settings_.system ? "system" : "user");
    return 0;
}

}  // namespace telvo::launchd
