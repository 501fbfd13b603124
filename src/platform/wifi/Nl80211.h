#pragma once
// The Wi-Fi state of one interface over nl80211 (generic netlink, raw messages): the network
// name (NL80211_ATTR_SSID of NL80211_CMD_GET_INTERFACE, up to 32 arbitrary bytes) and the base
// station (NL80211_BSS_BSSID of the scan entry whose status is associated). The parsers take
// one message payload each (after the netlink header) and check every length.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace telvo::wifi {

struct WifiInterface {
    std::string name;
    std::optional<std::string> ssid;   // raw bytes, as the access point sends them
    std::optional<std::string> bssid;  // "aa:bb:cc:dd:ee:ff"
};

// The interface's Wi-Fi state, or none when nl80211 is missing or knows no such interface.
std::optional<WifiInterface> interfaceWithName(const std::string& name);

// The Wi-Fi state from recorded replies (whole datagrams, netlink headers included) of the
// nl80211 family `family`: the NL80211_CMD_GET_INTERFACE reply and the NL80211_CMD_GET_SCAN
// dump. False when the first holds no interface reply for `ifindex` (not a Wi-Fi interface).
bool interfaceFromReplies(uint16_t family, uint32_t ifindex, const uint8_t* interfaceReply, size_t interfaceLength,
                          const uint8_t* scanDump, size_t scanLength, WifiInterface& out);

// CTRL_CMD_GETFAMILY reply: the family identifier.
bool parseFamilyReply(const uint8_t* payload, size_t length, uint16_t& familyId);
// NL80211_CMD_NEW_INTERFACE reply: interface index and SSID (only when associated).
bool parseInterfaceReply(const uint8_t* payload, size_t length, uint32_t& ifindex, std::optional<std::string>& ssid);
// NL80211_CMD_NEW_SCAN_RESULTS entry: the BSSID when this entry is the associated one.
bool parseScanEntry(const uint8_t* payload, size_t length, std::optional<std::string>& associatedBssid);

}  // namespace telvo::wifi
