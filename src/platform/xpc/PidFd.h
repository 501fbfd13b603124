#pragma once
// A socket's peer process pinned by a process descriptor taken when the connection was
// accepted, so that a later check speaks of that process and never of one that got its pid
// since. Taken with SO_PEERPIDFD where the kernel has it, else with pidfd_open on the
// SO_PEERCRED pid, which is only trusted when that process had started by the accept.
#include <sys/types.h>
#include <cstdint>
#include <memory>

namespace telvo::xpc {

class PidFd;
using PidFdPtr = std::shared_ptr<const PidFd>;

class PidFd {
public:
    ~PidFd();
    PidFd(const PidFd&) = delete;
    PidFd& operator=(const PidFd&) = delete;

    // The peer of the connected Unix-domain socket `socketFd`, whose SO_PEERCRED pid is `pid`,
    // accepted at `acceptedAt` (bootClockNow()). Never null; invalid when the peer cannot be
    // pinned (it is gone, or its pid names a later process).
    static PidFdPtr forPeer(int socketFd, pid_t pid, uint64_t acceptedAt);
    // pidfd_open on `pid`, trusted only when that process started no later than `acceptedAt`.
    static PidFdPtr open(pid_t pid, uint64_t acceptedAt);

    // The boot clock (CLOCK_BOOTTIME, ns), the clock process start times are counted on.
    static uint64_t bootClockNow();

    // True when the process was pinned: it is the process that connected.
    bool valid() const { return fd_ >= 0; }
    pid_t pid() const { return pid_; }
    int fd() const { return fd_; }
    // Its start time (clock ticks after boot, as /proc/<pid>/stat gives it).
    unsigned long long startTime() const { return startTime_; }
    // True when taken with SO_PEERPIDFD (false: the pidfd_open fallback).
    bool fromSocketOption() const { return fromSocketOption_; }

    // The pinned process still runs (it has not exited), so its pid still names it and
    // /proc/<pid> speaks of it; its start time there is still the one pinned.
    bool alive() const;

private:
    PidFd() = default;
    int fd_ = -1;
    pid_t pid_ = -1;
    unsigned long long startTime_ = 0;
    bool fromSocketOption_ = false;
};

// A process's start time (clock ticks after boot, field 22 of /proc/<pid>/stat); false when it
// cannot be read (the process is gone).
bool processStartTime(pid_t pid, unsigned long long& out);

// Tests: never ask for SO_PEERPIDFD, so that the pidfd_open fallback is taken.
void forcePidFdFallbackForTesting(bool force);

}  // namespace telvo::xpc
