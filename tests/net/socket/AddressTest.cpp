// Address utilities: conversions, wrapped addresses, interface descriptions and lookups.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

#include "net/socket/GCDAsyncSocket.h"

namespace telvo {
namespace {

template <class T>
Bytes wrap(const T& a) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

TEST(SocketAddress, WrappedAddressesReadByFamilyAndLength) {
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_port = htons(5109);
    inet_pton(AF_INET, "192.0.2.7", &a4.sin_addr);
    Bytes w4 = wrap(a4);
    ASSERT_EQ(w4.size(), 16u);
    std::string host;
    uint16_t port = 0;
    int family = 0;
    EXPECT_TRUE(GCDAsyncSocket::getHost(&host, &port, &family, w4));
    EXPECT_EQ(host, "192.0.2.7");
    EXPECT_EQ(port, 5109);
    EXPECT_EQ(family, AF_INET);
    EXPECT_TRUE(GCDAsyncSocket::isIPv4Address(w4));
    EXPECT_FALSE(GCDAsyncSocket::isIPv6Address(w4));

    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(443);
    inet_pton(AF_INET6, "2001:db8::1", &a6.sin6_addr);
    Bytes w6 = wrap(a6);
    EXPECT_EQ(GCDAsyncSocket::hostFromAddress(w6), "2001:db8::1");
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(w6), 443);
    EXPECT_TRUE(GCDAsyncSocket::isIPv6Address(w6));

    Bytes truncated(w6.begin(), w6.begin() + 16);  // an IPv6 address cut to 16 bytes
    EXPECT_FALSE(GCDAsyncSocket::getHost(&host, &port, truncated));
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(truncated), 0);

    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    std::strcpy(un.sun_path, "/tmp/tvs3.socket");
    EXPECT_EQ(GCDAsyncSocket::hostFromAddress(wrap(un)), "");
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(wrap(un)), 0);
    EXPECT_EQ(GCDAsyncSocket::urlFromSockaddrUN(&un), "file:///tmp/tvs3.socket");
    EXPECT_FALSE(GCDAsyncSocket::getHost(nullptr, nullptr, Bytes(8, 0)));
}

TEST(SocketAddress, LookupOfLocalhostNeedsNoResolver) {
    ErrorPtr error;
    std::vector<Bytes> addresses = GCDAsyncSocket::lookupHost("localhost", 5109, &error);
    EXPECT_FALSE(error);
    ASSERT_EQ(addresses.size(), 2u);
    EXPECT_EQ(addresses[0].size(), sizeof(sockaddr_in));
    EXPECT_EQ(GCDAsyncSocket::hostFromAddress(addresses[0]), "127.0.0.1");
    EXPECT_EQ(addresses[1].size(), sizeof(sockaddr_in6));
    EXPECT_EQ(GCDAsyncSocket::hostFromAddress(addresses[1]), "::1");
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(addresses[1]), 5109);

    // Numeric hosts go through getaddrinfo without a name server.
    addresses = GCDAsyncSocket::lookupHost("127.0.0.1", 80, &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(addresses.size(), 1u);
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(addresses[0]), 80);

    addresses = GCDAsyncSocket::lookupHost("no such host.invalid", 80, &error);
    EXPECT_TRUE(addresses.empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "kCFStreamErrorDomainNetDB");
    EXPECT_NE(error->code, 0);
}

TEST(SocketAddress, InterfaceDescriptions) {
    struct Case {
        const char* description;
        uint16_t port;
        const char* host4;  // "" = none
        const char* host6;
        uint16_t expectedPort;
    };
    const Case cases[] = {
        {"", 5109, "0.0.0.0", "::", 5109},
        {":6000", 0, "0.0.0.0", "::", 6000},
        {":0", 0, "0.0.0.0", "::", 0},
        {":70000", 0, "0.0.0.0", "::", 0},
        {":abc", 0, "0.0.0.0", "::", 0},
        {":6000", 7000, "0.0.0.0", "::", 7000},  // the port argument wins
        {"localhost", 1, "127.0.0.1", "::1", 1},
        {"loopback:6001", 0, "127.0.0.1", "::1", 6001},
        {"lo:6002", 0, "127.0.0.1", "::1", 6002},
        {"127.0.0.1", 9, "127.0.0.1", "", 9},
        {"::1", 9, "0.0.0.0", "::", 9},  // cut at the first colon: every interface
        {"LOCALHOST", 9, "", "", 0},
        {"fe80::1", 9, "", "", 0},
        {"nosuchif0", 9, "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        Bytes a4, a6;
        GCDAsyncSocket::getInterfaceAddress(&a4, &a6, c.description, c.port);
        EXPECT_EQ(GCDAsyncSocket::hostFromAddress(a4), c.host4);
        if (std::string(c.description).rfind("lo:", 0) == 0 && a6.empty()) continue;  // no IPv6 on lo
        EXPECT_EQ(GCDAsyncSocket::hostFromAddress(a6), c.host6);
        if (!a4.empty()) {
            EXPECT_EQ(GCDAsyncSocket::portFromAddress(a4), c.expectedPort);
        }
        if (!a6.empty()) {
            EXPECT_EQ(GCDAsyncSocket::portFromAddress(a6), c.expectedPort);
        }
    }
}

TEST(SocketAddress, Terminators) {
    EXPECT_EQ(GCDAsyncSocket::CRLFData(), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(GCDAsyncSocket::CRData(), (Bytes{0x0D}));
    EXPECT_EQ(GCDAsyncSocket::LFData(), (Bytes{0x0A}));
    EXPECT_EQ(GCDAsyncSocket::ZeroData(), (Bytes{0x00}));
}

}  // namespace
}  // namespace telvo
