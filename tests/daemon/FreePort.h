#pragma once
// A TCP port that is free on the loopback addresses right now.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace telvo::testing {

inline uint16_t freePort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
        int off = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        socklen_t len = sizeof a;
        uint16_t port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin6_port);
        ::close(fd);
        if (port >= 1024) return port;
    }
    return 0;
}

}  // namespace telvo::testing
