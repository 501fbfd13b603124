// The rtnetlink parsers on hand-made messages (every length checked), the keys made from
// dumps, the service identifiers, resolv.conf (and its replacement noticed by the watcher) and
// the many-keys read.
#include <gtest/gtest.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include "platform/host/ProcRoot.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/netstate/LinkDumpReader.h"
#include "platform/netstate/NetlinkAttributes.h"
#include "platform/netstate/NetworkKeys.h"
#include "platform/netstate/ResolvConf.h"
#include "platform/netstate/RtnetlinkSource.h"
#include "platform/netstate/ServiceIdentifier.h"

namespace telvo::netstate {
namespace {

// A message payload: a fixed header then attributes.
struct Builder {
    std::vector<uint8_t> bytes;
    template <class T>
    explicit Builder(const T& header) {
        bytes.resize(NLMSG_ALIGN(sizeof(T)));
        std::memcpy(bytes.data(), &header, sizeof(T));
    }
    Builder& attr(uint16_t type, const void* data, size_t length, bool pad = true) {
        uint16_t len = uint16_t(4 + length);
        size_t at = bytes.size();
        bytes.resize(at + 4 + length);
        std::memcpy(&bytes[at], &len, 2);
        std::memcpy(&bytes[at + 2], &type, 2);
        if (length) std::memcpy(&bytes[at + 4], data, length);
        if (pad) bytes.resize((bytes.size() + 3) & ~size_t(3));
        return *this;
    }
    Builder& text(uint16_t type, const std::string& s) { return attr(type, s.c_str(), s.size() + 1); }
};

TEST(RtnetlinkParseTest, LinkMessageGivesNameStateAddressKindAndUnalignedCounters) {
    ifinfomsg ifi{};
    ifi.ifi_index = 7;
    ifi.ifi_type = 1;
    ifi.ifi_flags = 0x1;
    Builder b(ifi);
    b.text(IFLA_IFNAME, "veth7");
    uint8_t oper = 6, carrier = 1;
    b.attr(IFLA_OPERSTATE, &oper, 1).attr(IFLA_CARRIER, &carrier, 1);
    uint8_t mac[6] = {0x02, 0xab, 0, 0x10, 0x20, 0xff};
    b.attr(IFLA_ADDRESS, mac, 6);
    Builder info(ifi);  // only its attributes are used
    info.bytes.clear();
    info.text(IFLA_INFO_KIND, "veth");
    b.attr(IFLA_LINKINFO, info.bytes.data(), info.bytes.size());
    // The attributes before put the counters 4 bytes off an 8-byte boundary.
    uint64_t stats[8] = {1, 2, 5000000000ull, 123456789ull, 0, 0, 0, 0};
    b.attr(IFLA_STATS64, stats, sizeof stats);
    LinkInfo link;
    ASSERT_TRUE(parseLinkMessage(b.bytes.data(), b.bytes.size(), link));
    EXPECT_EQ(link.index, 7);
    EXPECT_EQ(link.name, "veth7");
    EXPECT_EQ(link.operstate, 6);
    EXPECT_EQ(link.carrier, 1);
    EXPECT_EQ(link.address, std::vector<uint8_t>(mac, mac + 6));
    EXPECT_EQ(link.kind, "veth");
    EXPECT_TRUE(link.hasStats);
    EXPECT_EQ(link.rxBytes, 5000000000ull);
    EXPECT_EQ(link.txBytes, 123456789ull);
}

TEST(RtnetlinkParseTest, MalformedLengthsAreRefusedNotRead) {
    ifinfomsg ifi{};
    // Too short for its fixed header.
    LinkInfo link;
    EXPECT_FALSE(parseLinkMessage(reinterpret_cast<const uint8_t*>(&ifi), sizeof ifi - 1, link));
    // An attribute that claims more than the buffer holds.
    Builder b(ifi);
    b.text(IFLA_IFNAME, "eth0");
    uint16_t len = 200, type = IFLA_STATS64;
    size_t at = b.bytes.size();
    b.bytes.resize(at + 8);
    std::memcpy(&b.bytes[at], &len, 2);
    std::memcpy(&b.bytes[at + 2], &type, 2);
    EXPECT_FALSE(parseLinkMessage(b.bytes.data(), b.bytes.size(), link));
    EXPECT_EQ(link.name, "eth0");
    EXPECT_FALSE(link.hasStats);
    // Counters shorter than the four first fields, an operstate of the wrong size, an IPv4
    // address of 3 bytes and a route metric of 2 bytes are ignored.
    Builder c(ifi);
    uint64_t two[2] = {1, 2};
    uint16_t wide = 6;
    c.attr(IFLA_STATS64, two, sizeof two).attr(IFLA_OPERSTATE, &wide, 2);
    LinkInfo other;
    EXPECT_TRUE(parseLinkMessage(c.bytes.data(), c.bytes.size(), other));
    EXPECT_FALSE(other.hasStats);
    EXPECT_EQ(other.operstate, 0);
    ifaddrmsg ifa{};
    ifa.ifa_family = AF_INET;
    Builder a(ifa);
    uint8_t three[3] = {10, 0, 0};
    a.attr(IFA_LOCAL, three, 3);
    InterfaceAddress address;
    EXPECT_TRUE(parseAddressMessage(a.bytes.data(), a.bytes.size(), address));
    EXPECT_TRUE(address.address.empty());
    rtmsg rt{};
    rt.rtm_family = AF_INET;
    Builder r(rt);
    uint16_t shortMetric = 5;
    r.attr(RTA_PRIORITY, &shortMetric, 2);
    Ipv4Route route;
    EXPECT_TRUE(parseRouteMessage(r.bytes.data(), r.bytes.size(), route));
    EXPECT_EQ(route.priority, 0u);
    // Message walk: a header claiming more than the buffer stops the walk.
    nlmsghdr h{};
    h.nlmsg_len = 64;
    int seen = 0;
    EXPECT_FALSE(forEachNetlinkMessage(reinterpret_cast<const uint8_t*>(&h), sizeof h, [&](const NetlinkMessage&) {
        ++seen;
        return true;
    }));
    EXPECT_EQ(seen, 0);
}

TEST(RtnetlinkParseTest, AddressAndRouteMessagesOfBothFamilies) {
    ifaddrmsg ifa{};
    ifa.ifa_family = AF_INET6;
    ifa.ifa_prefixlen = 64;
    ifa.ifa_index = 3;
    Builder a(ifa);
    uint8_t v6[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    a.attr(IFA_ADDRESS, v6, 16);
    ifa_cacheinfo ci{};
    ci.ifa_valid = 3600;
    a.attr(IFA_CACHEINFO, &ci, sizeof ci);
    uint32_t flags = 0x100;
    a.attr(IFA_FLAGS, &flags, 4);
    InterfaceAddress address;
    ASSERT_TRUE(parseAddressMessage(a.bytes.data(), a.bytes.size(), address));
    EXPECT_EQ(address.address, "fe80::1");
    EXPECT_EQ(address.validLifetime, 3600u);
    EXPECT_EQ(address.flags, 0x100u);
    EXPECT_EQ(address.interfaceIndex, 3);

    rtmsg rt{};
    rt.rtm_family = AF_INET;
    rt.rtm_type = RTN_UNICAST;
    rt.rtm_table = RT_TABLE_MAIN;
    Builder r(rt);
    uint8_t gw[4] = {10, 1, 0, 1};
    int oif = 3;
    uint32_t metric = 100;
    r.attr(RTA_GATEWAY, gw, 4).attr(RTA_OIF, &oif, 4).attr(RTA_PRIORITY, &metric, 4);
    Ipv4Route route;
    ASSERT_TRUE(parseRouteMessage(r.bytes.data(), r.bytes.size(), route));
    EXPECT_EQ(route.gateway, "10.1.0.1");
    EXPECT_EQ(route.interfaceIndex, 3);
    EXPECT_EQ(route.priority, 100u);
}

LinkInfo link(int index, const std::string& name, uint16_t type, bool up) {
    LinkInfo l;
    l.index = index;
    l.name = name;
    l.type = type;
    l.flags = up ? 1 : 0;
    l.operstate = up ? 6 : 2;
    l.carrier = up ? 1 : 0;
    return l;
}

InterfaceAddress address(int index, int family, const std::string& text, int prefix, bool dynamic = false) {
    InterfaceAddress a;
    a.interfaceIndex = index;
    a.family = family;
    a.address = text;
    a.prefixLength = prefix;
    a.flags = dynamic ? 0 : 0x80;
    a.validLifetime = dynamic ? 600 : 0xffffffffu;
    return a;
}

Ipv4Route defaultRoute(int index, int family, const std::string& gateway, uint32_t metric) {
    Ipv4Route r;
    r.interfaceIndex = index;
    r.family = family;
    r.gateway = gateway;
    r.priority = metric;
    r.type = 1;
    return r;
}

TEST(NetworkKeysTest, ServicesOrderKindsStateAndPrimary) {
    NetworkDumps d;
    d.links = {link(1, "lo", 772, true), link(2, "eth0", 1, true), link(3, "wlan0", 1, true),
               link(4, "eth1", 1, false), link(5, "ppp0", 512, true), link(6, "sit1", 776, true),
               link(7, "wg0", 65534, true)};
    d.addresses = {address(1, AF_INET, "127.0.0.1", 8), address(2, AF_INET, "192.168.1.5", 24, true),
                   address(2, AF_INET6, "fe80::1", 64), address(3, AF_INET, "10.0.0.9", 8)};
    d.routes = {defaultRoute(3, AF_INET, "10.0.0.1", 600), defaultRoute(2, AF_INET, "192.168.1.1", 100),
                defaultRoute(2, AF_INET6, "fe80::ff", 1024)};
    d.dnsServers = {"192.168.1.1", "2001:db8::53"};
    d.isWireless = [](const std::string& n) { return n == "wlan0"; };
    ValueDictionary k = buildNetworkKeys(d);

    auto id = serviceIdentifierForInterface;
    // eth0 (metric 100), wlan0 (600), then by index; loopback is no service.
    ValueArray order = k["Setup:/Network/Global/IPv4"]["ServiceOrder"].array();
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(order[0], Value(id("eth0")));
    EXPECT_EQ(order[1], Value(id("wlan0")));
    EXPECT_EQ(order[2], Value(id("eth1")));
    EXPECT_EQ(order[5], Value(id("wg0")));

    struct Kind { const char* name; const char* hardware; const char* type; };
    for (const Kind& c : {Kind{"eth0", "Ethernet", "Ethernet"}, Kind{"wlan0", "AirPort", "IEEE80211"},
                          Kind{"ppp0", "PPP", "PPP"}, Kind{"sit1", "6to4", "6to4"}, Kind{"wg0", "VPN", nullptr}}) {
        Value iface = k["Setup:/Network/Service/" + id(c.name) + "/Interface"];
        EXPECT_EQ(iface["DeviceName"], Value(c.name));
        EXPECT_EQ(iface["Hardware"], Value(c.hardware)) << c.name;
        if (c.type) EXPECT_EQ(iface["Type"], Value(c.type)) << c.name;
        else EXPECT_FALSE(iface.has("Type")) << c.name;
    }
    EXPECT_EQ(k["State:/Network/Interface/eth0/Link"]["Active"], Value(true));
    EXPECT_EQ(k["State:/Network/Interface/eth1/Link"]["Active"], Value(false));
    const std::string eth0 = "State:/Network/Service/" + id("eth0");
    EXPECT_EQ(k[eth0 + "/IPv4"]["Addresses"], Value(ValueArray{Value("192.168.1.5")}));
    EXPECT_EQ(k[eth0 + "/IPv4"]["SubnetMasks"], Value(ValueArray{Value("255.255.255.0")}));
    EXPECT_EQ(k[eth0 + "/IPv4"]["Router"], Value("192.168.1.1"));
    EXPECT_EQ(k[eth0 + "/IPv6"]["Addresses"], Value(ValueArray{Value("fe80::1")}));
    EXPECT_EQ(k[eth0 + "/DNS"]["ServerAddresses"].array().size(), 2u);
    EXPECT_EQ(k["Setup:/Network/Service/" + id("eth0") + "/IPv4"]["ConfigMethod"], Value("DHCP"));
    EXPECT_EQ(k["Setup:/Network/Service/" + id("wlan0") + "/IPv4"]["ConfigMethod"], Value("Manual"));
    EXPECT_FALSE(k.count("State:/Network/Service/" + id("eth1") + "/IPv4"));
    EXPECT_EQ(k["State:/Network/Service/" + id("ppp0") + "/PPP"]["Status"], Value(8));
    EXPECT_EQ(k["State:/Network/Service/" + id("ppp0") + "/PPP"]["InterfaceName"], Value("ppp0"));
    Value global = k[DynamicStore::kGlobalIPv4Key];
    EXPECT_EQ(global["Router"], Value("192.168.1.1"));
    EXPECT_EQ(global["PrimaryInterface"], Value("eth0"));
    EXPECT_EQ(global["PrimaryService"], Value(id("eth0")));
    EXPECT_EQ(k["State:/Network/Global/DNS"]["ServerAddresses"].at(1), Value("2001:db8::53"));
    // The keys the port mapper reads stay as they were.
    EXPECT_EQ(k[DynamicStore::interfaceIPv4Key("lo")]["Addresses"].at(0), Value("127.0.0.1"));

    // A ppp link that is down: status 0 and no interface name.
    d.links[4] = link(5, "ppp0", 512, false);
    ValueDictionary down = buildNetworkKeys(d);
    EXPECT_EQ(down["State:/Network/Service/" + id("ppp0") + "/PPP"]["Status"], Value(0));
    EXPECT_FALSE(down["State:/Network/Service/" + id("ppp0") + "/PPP"].has("InterfaceName"));
}

TEST(NetworkKeysTest, ServiceIdentifiersAreStableNameBasedAndDistinct) {
    const std::string a = serviceIdentifierForInterface("enp3s0");
    EXPECT_EQ(a, serviceIdentifierForInterface("enp3s0"));
    EXPECT_NE(a, serviceIdentifierForInterface("enp3s0.100"));
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[14], '5');  // version 5
    EXPECT_TRUE(a[19] == '8' || a[19] == '9' || a[19] == 'A' || a[19] == 'B');
    for (char c : a) EXPECT_FALSE(c >= 'a' && c <= 'z');
}

TEST(NetworkKeysTest, NameserversOfResolvConf) {
    EXPECT_EQ(parseNameservers("# generated\nsearch lan\nnameserver 192.168.1.1\n  nameserver\t2001:db8::1 # x\n"
                               "nameserverx 1.1.1.1\nnameserver\n"),
              (std::vector<std::string>{"192.168.1.1", "2001:db8::1"}));
}

TEST(NetworkKeysTest, ManyKeysComeFromOneSnapshot) {
    auto fixture = std::make_shared<FixtureSource>();
    DynamicStore::setSourceForTesting(fixture);
    fixture->setValue("Setup:/Network/Global/IPv4", Value(1));
    fixture->setValue("Setup:/Network/Service/A/Interface", Value(2));
    fixture->setValue("State:/Network/Global/DNS", Value(3));
    fixture->setValue("Other", Value(4));
    ValueDictionary got = DynamicStore::shared().copyMultiple({"Other", "Missing"}, {"Setup:/Network/.*", "(bad"});
    EXPECT_EQ(got.size(), 3u);
    EXPECT_TRUE(got.count("Setup:/Network/Service/A/Interface"));
    EXPECT_FALSE(got.count("State:/Network/Global/DNS"));
    DynamicStore::resetForTesting();
}

TEST(NetworkKeysTest, SmokeLinkDumpOfThisNamespaceHasLoopbackWithCounters) {
    LinkDumpReader reader;
    std::vector<LinkInfo> links;
    ASSERT_TRUE(reader.read(links)) << std::strerror(errno);
    bool lo = false;
    for (const auto& l : links)
        if (l.name == "lo") lo = l.type == 772 && l.hasStats;
    EXPECT_TRUE(lo);
    ASSERT_TRUE(reader.read(links));  // the kept socket answers again
    EXPECT_FALSE(links.empty());
}

}  // namespace
}  // namespace telvo::netstate

namespace telvo::netstate {
namespace {

TEST(RtnetlinkSourceWatchTest, ResolvConfReplacedByARenameIsReportedAsADnsChange) {
    char tmpl[] = "/tmp/telvo-resolv-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string root = tmpl;
    std::filesystem::create_directories(root + "/etc");
    host::ProcRoot::setForTesting(root);
    std::mutex m;
    std::condition_variable cv;
    bool seen = false;
    {
        RtnetlinkSource source;
        source.setChangeListener([&](const std::vector<std::string>& keys) {
            std::lock_guard<std::mutex> lock(m);
            for (const auto& k : keys) seen = seen || k == "State:/Network/Global/DNS";
            cv.notify_all();
        });
        // Rewritten until the watcher (started on its own thread) reports it: 20 s at most.
        for (int i = 0; i < 100; ++i) {
            {
                std::ofstream(root + "/etc/resolv.conf.new") << "nameserver 192.0.2." << (i % 200 + 1) << "\n";
            }
            std::filesystem::rename(root + "/etc/resolv.conf.new", root + "/etc/resolv.conf");
            std::unique_lock<std::mutex> lock(m);
            if (cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return seen; })) break;
        }
        source.setChangeListener(nullptr);
        EXPECT_EQ(source.snapshot()["State:/Network/Global/DNS"]["ServerAddresses"].array().size(), 1u);
    }
    host::ProcRoot::resetForTesting();
    std::filesystem::remove_all(root);
    EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace telvo::netstate
