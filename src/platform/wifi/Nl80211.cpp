// nl80211 over a generic-netlink socket.
#include "platform/wifi/Nl80211.h"

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>
#include "platform/netstate/NetlinkAttributes.h"
#include "platform/netstate/NetlinkSocket.h"

namespace telvo::wifi {

using netstate::NetlinkAttribute;
using netstate::NetlinkMessage;

namespace {

// nl80211 numbers (linux/nl80211.h).
constexpr uint8_t kCmdGetInterface = 5, kCmdNewInterface = 7, kCmdGetScan = 32, kCmdNewScanResults = 34;
constexpr uint16_t kAttrIfindex = 3, kAttrBss = 47, kAttrSsid = 52;
constexpr uint16_t kBssBssid = 1, kBssStatus = 9;
constexpr uint32_t kBssStatusAssociated = 1;

bool attributesAfterGenl(const uint8_t* payload, size_t length, const std::function<bool(const NetlinkAttribute&)>& each) {
    if (length < GENL_HDRLEN) return false;
    return netstate::forEachNetlinkAttribute(payload + GENL_HDRLEN, length - GENL_HDRLEN, each);
}

// One generic-netlink request (header, genl header and attributes); every reply message to
// `each`.
bool genlTransact(netstate::NetlinkSocket& nl, uint16_t family, uint16_t flags, uint8_t cmd,
                  const std::vector<uint8_t>& attributes, const std::function<void(const NetlinkMessage&)>& each) {
    std::vector<uint8_t> req(NLMSG_HDRLEN + GENL_HDRLEN + attributes.size());
    nlmsghdr h{};
    h.nlmsg_len = uint32_t(req.size());
    h.nlmsg_type = family;
    h.nlmsg_flags = uint16_t(NLM_F_REQUEST | flags);
    genlmsghdr g{};
    g.cmd = cmd;
    g.version = 1;
    std::memcpy(req.data(), &h, sizeof h);
    std::memcpy(req.data() + NLMSG_HDRLEN, &g, sizeof g);
    if (!attributes.empty()) std::memcpy(req.data() + NLMSG_HDRLEN + GENL_HDRLEN, attributes.data(), attributes.size());
    return nl.transact(reinterpret_cast<nlmsghdr*>(req.data()), each);
}

void putAttribute(std::vector<uint8_t>& out, uint16_t type, const void* data, size_t length) {
    uint16_t len = uint16_t(4 + length);
    size_t at = out.size();
    out.resize(at + ((4 + length + 3) & ~size_t(3)));
    std::memcpy(&out[at], &len, 2);
    std::memcpy(&out[at + 2], &type, 2);
    std::memcpy(&out[at + 4], data, length);
}

}  // namespace

bool parseFamilyReply(const uint8_t* payload, size_t length, uint16_t& familyId) {
    bool found = false;
    bool ok = attributesAfterGenl(payload, length, [&](const NetlinkAttribute& a) {
        if (a.type == CTRL_ATTR_FAMILY_ID && a.read(familyId)) found = true;
        return true;
    });
    return ok && found;
}

bool parseInterfaceReply(const uint8_t* payload, size_t length, uint32_t& ifindex, std::optional<std::string>& ssid) {
    return attributesAfterGenl(payload, length, [&](const NetlinkAttribute& a) {
        if (a.type == kAttrIfindex) a.read(ifindex);
        if (a.type == kAttrSsid && a.length <= 32) ssid = std::string(reinterpret_cast<const char*>(a.data), a.length);
        return true;
    });
}

bool parseScanEntry(const uint8_t* payload, size_t length, std::optional<std::string>& associatedBssid) {
    return attributesAfterGenl(payload, length, [&](const NetlinkAttribute& a) {
        if (a.type != kAttrBss) return true;
        std::optional<std::string> bssid;
        bool associated = false;
        netstate::forEachNetlinkAttribute(a.data, a.length, [&](const NetlinkAttribute& b) {
            if (b.type == kBssBssid && b.length == 6) {
                char text[18];
                std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b.data[0], b.data[1], b.data[2],
                              b.data[3], b.data[4], b.data[5]);
                bssid = text;
            }
            uint32_t status = 0;
            if (b.type == kBssStatus && b.read(status)) associated = status == kBssStatusAssociated;
            return true;
        });
        if (associated && bssid) associatedBssid = bssid;
        return true;
    });
}

namespace {

// One message of the interface reply; true when it is nl80211's answer for `ifindex`.
bool takeInterfaceMessage(uint16_t family, uint32_t ifindex, const NetlinkMessage& m, WifiInterface& out) {
    if (m.type != family || m.length < GENL_HDRLEN || m.payload[0] != kCmdNewInterface) return false;
    uint32_t replied = 0;
    std::optional<std::string> ssid;
    if (!parseInterfaceReply(m.payload, m.length, replied, ssid) || replied != ifindex) return false;
    out.ssid = ssid;
    return true;
}

void takeScanMessage(uint16_t family, const NetlinkMessage& m, WifiInterface& out) {
    if (m.type == family && m.length >= GENL_HDRLEN && m.payload[0] == kCmdNewScanResults && !out.bssid)
        parseScanEntry(m.payload, m.length, out.bssid);
}

}  // namespace

bool interfaceFromReplies(uint16_t family, uint32_t ifindex, const uint8_t* interfaceReply, size_t interfaceLength,
                          const uint8_t* scanDump, size_t scanLength, WifiInterface& out) {
    bool known = false;
    netstate::forEachNetlinkMessage(interfaceReply, interfaceLength, [&](const NetlinkMessage& m) {
        known = known || takeInterfaceMessage(family, ifindex, m, out);
        return !known;
    });
    if (!known) return false;
    netstate::forEachNetlinkMessage(scanDump, scanLength, [&](const NetlinkMessage& m) {
        takeScanMessage(family, m, out);
        return true;
    });
    return true;
}

std::optional<WifiInterface> interfaceWithName(const std::string& name) {
    const unsigned index = if_nametoindex(name.c_str());
    if (index == 0) return std::nullopt;
    netstate::NetlinkSocket nl(NETLINK_GENERIC);
    if (!nl.ok()) return std::nullopt;
    std::vector<uint8_t> attrs;
    putAttribute(attrs, CTRL_ATTR_FAMILY_NAME, "nl80211", 8);
    uint16_t family = 0;
    bool got = false;
    if (!genlTransact(nl, GENL_ID_CTRL, 0, CTRL_CMD_GETFAMILY, attrs, [&](const NetlinkMessage& m) {
            got = parseFamilyReply(m.payload, m.length, family);
        }) || !got)
        return std::nullopt;

    std::vector<uint8_t> byIndex;
    const uint32_t ifindex = index;
    putAttribute(byIndex, kAttrIfindex, &ifindex, sizeof ifindex);
    WifiInterface wifi;
    wifi.name = name;
    bool known = false;
    if (!genlTransact(nl, family, 0, kCmdGetInterface, byIndex, [&](const NetlinkMessage& m) {
            known = known || takeInterfaceMessage(family, ifindex, m, wifi);
        }) || !known)
        return std::nullopt;
    genlTransact(nl, family, NLM_F_DUMP, kCmdGetScan, byIndex, [&](const NetlinkMessage& m) { takeScanMessage(family, m, wifi); });
    return wifi;
}

}  // namespace telvo::wifi
