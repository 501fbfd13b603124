// The kept-open link dump of the network collector's tick.
#include "platform/netstate/LinkDumpReader.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include "platform/netstate/NetlinkAttributes.h"

namespace telvo::netstate {

LinkDumpReader::~LinkDumpReader() { closeSocket(); }

void LinkDumpReader::closeSocket() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool LinkDumpReader::open() {
    if (fd_ >= 0) return true;
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return false;
    timeval tv{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (buffer_.empty()) buffer_.resize(32768);
    return true;
}

bool LinkDumpReader::read(std::vector<LinkInfo>& out) {
    out.clear();
    if (!open()) return false;
    struct {
        nlmsghdr h;
        ifinfomsg m;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    req.h.nlmsg_type = RTM_GETLINK;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.h.nlmsg_seq = ++seq_;
    req.m.ifi_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, &req, req.h.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        closeSocket();
        return false;
    }
    for (;;) {
        // Peek at the datagram's size first, so the buffer grows to hold it.
        ssize_t size = recv(fd_, buffer_.data(), 0, MSG_PEEK | MSG_TRUNC);
        if (size < 0 && errno == EINTR) continue;
        if (size < 0) {
            int saved = errno;
            closeSocket();  // a half-read dump would answer the next request
            out.clear();
            errno = saved;
            return false;
        }
        if (size_t(size) > buffer_.size()) buffer_.resize(size_t(size));
        ssize_t n = recv(fd_, buffer_.data(), buffer_.size(), 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            int saved = errno;
            closeSocket();
            out.clear();
            errno = saved;
            return false;
        }
        int result = 0;
        forEachNetlinkMessage(buffer_.data(), size_t(n), [&](const NetlinkMessage& m) {
            if (m.sequence != seq_) return true;
            if (m.type == NLMSG_DONE) {
                result = 1;
                return false;
            }
            if (m.type == NLMSG_ERROR) {
                result = -1;
                return false;
            }
            if (m.type != RTM_NEWLINK) return true;
            LinkInfo link;
            if (parseLinkMessage(m.payload, m.length, link) && !link.name.empty()) out.push_back(std::move(link));
            return true;
        });
        if (result > 0) return true;
        if (result < 0) {
            out.clear();
            errno = EIO;
            return false;
        }
    }
}

}  // namespace telvo::netstate
