// One netlink request and its answers over a socket of its own.
#include "platform/netstate/NetlinkSocket.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace telvo::netstate {

NetlinkSocket::NetlinkSocket(int protocol) {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (fd_ >= 0) {
        timeval tv{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
}

NetlinkSocket::~NetlinkSocket() {
    if (fd_ >= 0) close(fd_);
}

bool NetlinkSocket::transact(nlmsghdr* request, const std::function<void(const NetlinkMessage&)>& each) {
    request->nlmsg_seq = ++seq_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return false;
    const bool dump = request->nlmsg_flags & NLM_F_DUMP;
    std::vector<uint8_t> buf(65536);
    for (;;) {
        ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        int result = 0;  // 0 go on, 1 done, -1 failed
        forEachNetlinkMessage(buf.data(), size_t(n), [&](const NetlinkMessage& m) {
            if (m.sequence != seq_) return true;
            if (m.type == NLMSG_DONE) {
                result = 1;
                return false;
            }
            if (m.type == NLMSG_ERROR) {
                int32_t error = 0;
                if (m.length >= sizeof error) std::memcpy(&error, m.payload, sizeof error);
                if (error == 0) {
                    result = 1;
                } else {
                    errno = -error;
                    result = -1;
                }
                return false;
            }
            each(m);
            if (!dump) {
                result = 1;
                return false;
            }
            return true;
        });
        if (result != 0) return result > 0;
    }
}

}  // namespace telvo::netstate
