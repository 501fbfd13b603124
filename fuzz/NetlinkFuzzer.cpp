// The rtnetlink and nl80211 parsers on arbitrary bytes: the first byte picks the parser, the
// rest is its input (a message payload, or whole datagrams for the walks and the Wi-Fi replies).
#include <cstddef>
#include <cstdint>
#include "platform/netstate/NetlinkAttributes.h"
#include "platform/netstate/Rtnetlink.h"
#include "platform/wifi/Nl80211.h"

using namespace telvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t pick = data[0];
    ++data;
    --size;
    switch (pick % 6) {
    case 0: {
        netstate::LinkInfo link;
        netstate::parseLinkMessage(data, size, link);
        break;
    }
    case 1: {
        netstate::InterfaceAddress a;
        netstate::parseAddressMessage(data, size, a);
        break;
    }
    case 2: {
        netstate::Ipv4Route r;
        netstate::parseRouteMessage(data, size, r);
        break;
    }
    case 3: {
        size_t total = 0;
        netstate::forEachNetlinkMessage(data, size, [&](const netstate::NetlinkMessage& m) {
            netstate::LinkInfo link;
            netstate::parseLinkMessage(m.payload, m.length, link);
            total += link.name.size();
            return true;
        });
        break;
    }
    case 4: {
        uint32_t ifindex = 0;
        std::optional<std::string> ssid, bssid;
        uint16_t family = 0;
        wifi::parseInterfaceReply(data, size, ifindex, ssid);
        wifi::parseScanEntry(data, size, bssid);
        wifi::parseFamilyReply(data, size, family);
        break;
    }
    default: {
        const size_t half = size / 2;
        wifi::WifiInterface w;
        wifi::interfaceFromReplies(0x1c, 3, data, half, data + half, size - half, w);
        break;
    }
    }
    return 0;
}
