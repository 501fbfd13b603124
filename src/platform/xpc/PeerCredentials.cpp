// SO_PEERCRED and the administrators' group check.
#include "platform/xpc/PeerCredentials.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <mutex>
#include <vector>

namespace telvo::xpc {

namespace {
std::mutex gGroupMutex;
std::string gGroupOverride;
}  // namespace

std::string PeerCredentials::description() const {
    return "pid " + std::to_string(pid) + " uid " + std::to_string(uid) + " gid " + std::to_string(gid);
}

bool readPeerCredentials(int fd, PeerCredentials& out) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
    out.pid = cred.pid;
    out.uid = cred.uid;
    out.gid = cred.gid;
    return cred.pid > 0;
}

bool pinPeerCredentials(int fd, PeerCredentials& out) {
    uint64_t acceptedAt = PidFd::bootClockNow();
    if (!readPeerCredentials(fd, out)) return false;
    out.pidfd = PidFd::forPeer(fd, out.pid, acceptedAt);
    return true;
}

std::string administratorGroup() {
    std::lock_guard<std::mutex> lock(gGroupMutex);
    return gGroupOverride.empty() ? std::string("sudo") : gGroupOverride;
}

void setAdministratorGroupForTesting(const std::string& name) {
    std::lock_guard<std::mutex> lock(gGroupMutex);
    gGroupOverride = name;
}

bool isAdministrator(const PeerCredentials& peer) {
    if (!peer.valid()) return false;
    if (peer.uid == 0) return true;
    std::string groupName = administratorGroup();
    std::vector<char> buf(16384);
    group grp{};
    group* gr = nullptr;
    if (getgrnam_r(groupName.c_str(), &grp, buf.data(), buf.size(), &gr) != 0 || !gr) return false;
    gid_t admin = gr->gr_gid;
    if (peer.gid == admin) return true;
    std::vector<char> pbuf(16384);
    passwd pw{};
    passwd* p = nullptr;
    if (getpwuid_r(peer.uid, &pw, pbuf.data(), pbuf.size(), &p) != 0 || !p) return false;
    if (p->pw_gid == admin) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(p->pw_name, p->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(p->pw_name, p->pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(size_t(count));
    for (gid_t g : groups)
        if (g == admin) return true;
    return false;
}

}  // namespace telvo::xpc
