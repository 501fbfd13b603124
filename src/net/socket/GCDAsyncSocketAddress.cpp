// Address utilities of the socket: socket addresses to text and numbers, interface
// descriptions to listening addresses, and host name resolution.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "net/socket/GCDAsyncSocket.h"

namespace telvo {
namespace {

template <class T>
Bytes wrap(const T& address) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&address);
    return Bytes(p, p + sizeof address);
}

int familyOf(const Bytes& address) {
    sa_family_t family = 0;
    std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
    return family;
}

sockaddr_in ipv4Address(in_addr_t host, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(host);
    return a;
}

sockaddr_in6 ipv6Address(const in6_addr& host, uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = host;
    return a;
}

}  // namespace

std::string GCDAsyncSocket::hostFromSockaddr4(const sockaddr_in* address) {
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) return "";
    return text;
}

std::string GCDAsyncSocket::hostFromSockaddr6(const sockaddr_in6* address) {
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text)) return "";
    return text;
}

uint16_t GCDAsyncSocket::portFromSockaddr4(const sockaddr_in* address) { return ntohs(address->sin_port); }

uint16_t GCDAsyncSocket::portFromSockaddr6(const sockaddr_in6* address) { return ntohs(address->sin6_port); }

std::string GCDAsyncSocket::urlFromSockaddrUN(const sockaddr_un* address) {
    return "file://" + std::string(address->sun_path, strnlen(address->sun_path, sizeof address->sun_path));
}

bool GCDAsyncSocket::getHost(std::string* host, uint16_t* port, int* family, const Bytes& address) {
    if (address.size() < sizeof(sockaddr_in)) return false;
    const int f = familyOf(address);
    if (f == AF_INET6) {
        if (address.size() < sizeof(sockaddr_in6)) return false;
        sockaddr_in6 a;
        std::memcpy(&a, address.data(), sizeof a);
        if (host) *host = hostFromSockaddr6(&a);
        if (port) *port = portFromSockaddr6(&a);
        if (family) *family = AF_INET6;
        return true;
    }
    if (f == AF_INET) {
        sockaddr_in a;
        std::memcpy(&a, address.data(), sizeof a);
        if (host) *host = hostFromSockaddr4(&a);
        if (port) *port = portFromSockaddr4(&a);
        if (family) *family = AF_INET;
        return true;
    }
    return false;
}

bool GCDAsyncSocket::getHost(std::string* host, uint16_t* port, const Bytes& address) {
    return getHost(host, port, nullptr, address);
}

std::string GCDAsyncSocket::hostFromAddress(const Bytes& address) {
    std::string host;
    return getHost(&host, nullptr, address) ? host : std::string();
}

uint16_t GCDAsyncSocket::portFromAddress(const Bytes& address) {
    uint16_t port = 0;
    return getHost(nullptr, &port, address) ? port : 0;
}

bool GCDAsyncSocket::isIPv4Address(const Bytes& address) {
    return address.size() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET;
}

bool GCDAsyncSocket::isIPv6Address(const Bytes& address) {
    return address.size() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET6;
}

std::vector<Bytes> GCDAsyncSocket::lookupHost(const std::string& host, uint16_t port, ErrorPtr* error) {
    std::vector<Bytes> addresses;
    if (error) *error = nullptr;
    if (host == "localhost" || host == "loopback") {
        addresses.push_back(wrap(ipv4Address(INADDR_LOOPBACK, port)));
        addresses.push_back(wrap(ipv6Address(in6addr_loopback, port)));
        return addresses;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* results = nullptr;
    const std::string service = std::to_string(port);
    int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &results);
    if (status != 0) {
        if (error) *error = socket_errors::gaiError(status);
        return {};
    }
    for (addrinfo* r = results; r; r = r->ai_next) {
        if (r->ai_family == AF_INET) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(r->ai_addr);
            addresses.emplace_back(p, p + r->ai_addrlen);
        } else if (r->ai_family == AF_INET6) {
            auto* a6 = reinterpret_cast<sockaddr_in6*>(r->ai_addr);
            if (a6->sin6_port == 0) a6->sin6_port = htons(port);
            const uint8_t* p = reinterpret_cast<const uint8_t*>(r->ai_addr);
            addresses.emplace_back(p, p + r->ai_addrlen);
        }
    }
    freeaddrinfo(results);
    if (addresses.empty() && error) *error = socket_errors::gaiError(EAI_FAIL);
    return addresses;
}

void GCDAsyncSocket::getInterfaceAddress(Bytes* address4, Bytes* address6, const std::string& description,
                                         uint16_t port) {
    Bytes result4, result6;
    std::string interface;
    size_t colon = description.find(':');
    interface = description.substr(0, colon);
    if (port == 0 && colon != std::string::npos) {
        const std::string portText = description.substr(colon + 1);
        char* end = nullptr;
        errno = 0;
        long value = portText.empty() ? 0 : std::strtol(portText.c_str(), &end, 10);
        if (!portText.empty() && errno == 0 && end && *end == '\0' && value >= 1 && value <= 65535)
            port = uint16_t(value);
    }
    if (interface.empty()) {
        result4 = wrap(ipv4Address(INADDR_ANY, port));
        result6 = wrap(ipv6Address(in6addr_any, port));
    } else if (interface == "localhost" || interface == "loopback") {
        result4 = wrap(ipv4Address(INADDR_LOOPBACK, port));
        result6 = wrap(ipv6Address(in6addr_loopback, port));
    } else {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) == 0) {
            for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
                if (!entry->ifa_addr) continue;
                const int family = entry->ifa_addr->sa_family;
                if (family == AF_INET && result4.empty()) {
                    sockaddr_in a;
                    std::memcpy(&a, entry->ifa_addr, sizeof a);
                    if (interface == entry->ifa_name || interface == hostFromSockaddr4(&a)) {
                        a.sin_port = htons(port);
                        result4 = wrap(a);
                    }
                } else if (family == AF_INET6 && result6.empty()) {
                    sockaddr_in6 a;
                    std::memcpy(&a, entry->ifa_addr, sizeof a);
                    if (interface == entry->ifa_name || interface == hostFromSockaddr6(&a)) {
                        a.sin6_port = htons(port);
                        result6 = wrap(a);
                    }
                }
            }
            freeifaddrs(list);
        }
    }
    if (address4) *address4 = std::move(result4);
    if (address6) *address6 = std::move(result6);
}

Bytes GCDAsyncSocket::getInterfaceAddressFromUrl(const std::string& url) {
    // "file://" followed by an absolute path, or by "localhost" and the path.
    static const std::string scheme = "file://";
    if (url.rfind(scheme, 0) != 0) return {};
    std::string path = url.substr(scheme.size());
    if (path.rfind("localhost/", 0) == 0) path = path.substr(9);
    if (path.size() < 2 || path[0] != '/' || path.find('\0') != std::string::npos) return {};
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&address);
    return Bytes(p, p + offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

Bytes GCDAsyncSocket::addressOfName(int fd, bool peer) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length)
                 : getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    if (r != 0) return {};
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&storage);
    return Bytes(p, p + std::min<size_t>(length, sizeof storage));
}

std::string GCDAsyncSocket::hostOfName(int fd, bool peer, int family) {
    Bytes a = addressOfName(fd, peer);
    int f = 0;
    std::string host;
    if (!getHost(&host, nullptr, &f, a) || f != family) return "";
    return host;
}

uint16_t GCDAsyncSocket::portOfName(int fd, bool peer, int family) {
    Bytes a = addressOfName(fd, peer);
    int f = 0;
    uint16_t port = 0;
    if (!getHost(nullptr, &port, &f, a) || f != family) return 0;
    return port;
}

}  // namespace telvo
