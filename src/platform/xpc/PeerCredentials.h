#pragma once
// Who is at the other end of a Unix-domain stream socket (SO_PEERCRED: process, user and group
// as of connect, and for an accepted connection the process pinned by a pidfd taken at the
// accept), and whether that caller is an administrator: root, or a member of the machine's
// administrators' group ("sudo" on Debian).
#include <sys/types.h>
#include <string>
#include "platform/xpc/PidFd.h"

namespace telvo::xpc {

struct PeerCredentials {
    pid_t pid = -1;
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
    // The peer process pinned when the connection was accepted (or made); shared by copies.
    // Null when the credentials were read without pinning.
    PidFdPtr pidfd;
    bool valid() const { return pid >= 0; }
    // The pinned process still runs: the pid still names the process that connected.
    bool alive() const { return pidfd && pidfd->alive(); }
    // "pid %d uid %u gid %u"
    std::string description() const;
};

// False when the descriptor is no connected Unix-domain socket. Does not pin the process.
bool readPeerCredentials(int fd, PeerCredentials& out);
// The same, and pins the peer process (out.pidfd, never null on success): call it right after
// accept (or connect), since the pid is only trusted for a process started by then.
bool pinPeerCredentials(int fd, PeerCredentials& out);

// Root, or the user's primary or supplementary groups include the administrators' group.
bool isAdministrator(const PeerCredentials& peer);

// The administrators' group name ("sudo"). Tests may name another group; empty restores it.
std::string administratorGroup();
void setAdministratorGroupForTesting(const std::string& name);

}  // namespace telvo::xpc
