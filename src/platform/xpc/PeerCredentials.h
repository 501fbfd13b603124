#pragma once
// Who is at the other end of a Unix-domain stream socket (SO_PEERCRED: process, user and group
// as of connect), and whether that caller is an administrator: root, or a member of the
// machine's administrators' group ("sudo" on Debian).
#include <sys/types.h>
#include <string>

namespace telvo::xpc {

struct PeerCredentials {
    pid_t pid = -1;
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
    bool valid() const { return pid >= 0; }
    // "pid %d uid %u gid %u"
    std::string description() const;
};

// False when the descriptor is no connected Unix-domain socket.
bool readPeerCredentials(int fd, PeerCredentials& out);

// Root, or the user's primary or supplementary groups include the administrators' group.
bool isAdministrator(const PeerCredentials& peer);

// The administrators' group name ("sudo"). Tests may name another group; empty restores it.
std::string administratorGroup();
void setAdministratorGroupForTesting(const std::string& name);

}  // namespace telvo::xpc
