// Checked netlink message and attribute walks.
#include "platform/netstate/NetlinkAttributes.h"

#include <linux/netlink.h>

namespace telvo::netstate {

namespace {
constexpr size_t align4(size_t n) { return (n + 3) & ~size_t(3); }
}  // namespace

std::string NetlinkAttribute::text() const {
    size_t n = 0;
    while (n < length && data[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(data), n);
}

bool forEachNetlinkMessage(const uint8_t* data, size_t length, const std::function<bool(const NetlinkMessage&)>& each) {
    size_t off = 0;
    while (length - off >= sizeof(nlmsghdr)) {
        nlmsghdr h;
        std::memcpy(&h, data + off, sizeof h);
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > length - off) return false;
        NetlinkMessage m;
        m.type = h.nlmsg_type;
        m.flags = h.nlmsg_flags;
        m.sequence = h.nlmsg_seq;
        m.payload = data + off + sizeof(nlmsghdr);
        m.length = h.nlmsg_len - sizeof(nlmsghdr);
        if (!each(m)) return true;
        size_t step = align4(h.nlmsg_len);
        if (step >= length - off) return true;
        off += step;
    }
    return off == length;
}

bool forEachNetlinkAttribute(const uint8_t* data, size_t length,
                             const std::function<bool(const NetlinkAttribute&)>& each) {
    size_t off = 0;
    while (off < length) {
        if (length - off < 4) return false;
        uint16_t len = 0, type = 0;
        std::memcpy(&len, data + off, 2);
        std::memcpy(&type, data + off + 2, 2);
        if (len < 4 || len > length - off) return false;
        NetlinkAttribute a;
        a.type = uint16_t(type & NLA_TYPE_MASK);
        a.data = data + off + 4;
        a.length = size_t(len) - 4;
        if (!each(a)) return true;
        size_t step = align4(len);
        if (step >= length - off) return true;
        off += step;
    }
    return true;
}

}  // namespace telvo::netstate
