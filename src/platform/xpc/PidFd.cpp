// Pinning a socket's peer: SO_PEERPIDFD, or pidfd_open checked against the accept time.
#include "platform/xpc/PidFd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace telvo::xpc {

namespace {

std::atomic<bool> gForceFallback{false};

// Reads a small /proc file whole (at most 4 KiB).
bool readSmall(const std::string& path, std::string& out) {
    int f = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (f < 0) return false;
    char buf[4096];
    ssize_t n;
    do {
        n = ::read(f, buf, sizeof buf - 1);
    } while (n < 0 && errno == EINTR);
    ::close(f);
    if (n <= 0) return false;
    out.assign(buf, size_t(n));
    return true;
}

// The pid a pidfd names (its "Pid:" line in fdinfo); -1 when it has exited or is unknown.
pid_t pidOfPidFd(int fd) {
    std::string info;
    if (!readSmall("/proc/self/fdinfo/" + std::to_string(fd), info)) return -1;
    size_t at = info.find("\nPid:");
    if (at == std::string::npos) return -1;
    return pid_t(std::strtol(info.c_str() + at + 5, nullptr, 10));
}

bool exited(int fd) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n != 0;
}

unsigned long long ticksOf(uint64_t bootNs) {
    long hz = sysconf(_SC_CLK_TCK);
    if (hz <= 0) hz = 100;
    return bootNs / (1000000000ull / unsigned(hz));
}

}  // namespace

bool processStartTime(pid_t pid, unsigned long long& out) {
    if (pid <= 0) return false;
    std::string stat;
    if (!readSmall("/proc/" + std::to_string(pid) + "/stat", stat)) return false;
    // The command name may hold blanks and parentheses: fields start after the last ")".
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    const char* p = stat.c_str() + close + 1;
    // Field 3 (state) is the first after the name; the start time is field 22.
    for (int index = 3; index < 22; ++index) {
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
    }
    while (*p == ' ') ++p;
    char* end = nullptr;
    errno = 0;
    unsigned long long start = std::strtoull(p, &end, 10);
    if (end == p || errno != 0 || (*end != ' ' && *end != '\n' && *end != '\0')) return false;
    out = start;
    return true;
}

void forcePidFdFallbackForTesting(bool force) { gForceFallback = force; }

uint64_t PidFd::bootClockNow() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

PidFd::~PidFd() {
    if (fd_ >= 0) ::close(fd_);
}

PidFdPtr PidFd::forPeer(int socketFd, pid_t pid, uint64_t acceptedAt) {
    if (!gForceFallback) {
        int pidfd = -1;
        socklen_t len = sizeof pidfd;
        if (getsockopt(socketFd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &len) == 0 && len == sizeof pidfd && pidfd >= 0) {
            std::shared_ptr<PidFd> p(new PidFd);
            p->fromSocketOption_ = true;
            pid_t named = pidOfPidFd(pidfd);
            unsigned long long start = 0;
            // The start time read is the pinned process's only when it still runs afterwards.
            if (named > 0 && processStartTime(named, start) && !exited(pidfd)) {
                p->fd_ = pidfd;
                p->pid_ = named;
                p->startTime_ = start;
            } else {
                ::close(pidfd);
                p->pid_ = pid;
            }
            return p;
        }
    }
    return open(pid, acceptedAt);
}

PidFdPtr PidFd::open(pid_t pid, uint64_t acceptedAt) {
    std::shared_ptr<PidFd> p(new PidFd);
    p->pid_ = pid;
    if (pid <= 0) return p;
    int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return p;
    ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    unsigned long long start = 0;
    // A process started after the accept took the pid of the one that connected.
    if (!processStartTime(pid, start) || exited(pidfd) || start > ticksOf(acceptedAt)) {
        ::close(pidfd);
        return p;
    }
    p->fd_ = pidfd;
    p->startTime_ = start;
    return p;
}

bool PidFd::alive() const {
    if (fd_ < 0) return false;
    if (exited(fd_)) return false;
    unsigned long long start = 0;
    return processStartTime(pid_, start) && start == startTime_ && !exited(fd_);
}

}  // namespace telvo::xpc
